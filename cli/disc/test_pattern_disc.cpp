#include "cli/disc/test_pattern_disc.h"

#include <cmath>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/common/fs_path.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/common/reporter.h"
#include "cli/disc/test_pattern_tracks.h"
#include "cli/encode/encode.h"
#include "cli/tracks/track_files.h"
#include "core/track_format.h"

namespace trackloom::cli::disc {
namespace {

namespace fs = std::filesystem;

// NAME without .bin/.cue/.toc, as the image takes it, with "-tracks" after it.
std::string TracksDirectory(std::string name) {
  for (const char* extension : {".bin", ".cue", ".toc"}) {
    const std::string e = extension;
    if (name.size() > e.size() && name.compare(name.size() - e.size(), e.size(), e) == 0)
      name.resize(name.size() - e.size());
  }
  return name + "-tracks";
}

// Writes tables into the header of every record of a finished track, leaving the
// rest of it as the encode wrote it.
void WriteTables(const std::string& path, const levels::Tables& tables) {
  std::error_code ec;
  const uintmax_t size = fs::file_size(FsPath(path), ec);
  std::fstream file(FsPath(path), std::ios::in | std::ios::out | std::ios::binary);
  uint8_t header[kRecordHeaderSize];
  for (uintmax_t at = kFirstRecordOffset; !ec && at + kFrameRecordSize <= size;
       at += kFrameRecordSize) {
    const auto offset = static_cast<std::streamoff>(at);
    file.seekg(offset);
    file.read(reinterpret_cast<char*>(header), kRecordHeaderSize);
    levels::PutTables(header, tables);
    file.seekp(offset);
    file.write(reinterpret_cast<const char*>(header), kRecordHeaderSize);
  }
  file.flush();
  if (ec || !file) throw CliError("cannot write the level tables into '" + path + "'");
}

// Encodes one test track alone into work/ and moves it to its number in directory; the
// encode's exit status, its reason said through report.
int EncodeTrack(const PatternTrack& t, int number, const std::string& directory,
                const Reporter& report) {
  const std::string work = directory + "/.encoding";
  std::error_code ec;
  fs::remove_all(FsPath(work), ec);
  encode::EncodeOptions e;
  e.input = t.video;
  e.generated = true;
  e.generated_sound = t.sound;
  e.known_frames = std::llround(t.seconds * kFramesPerSecond);
  e.output_directory = work;
  e.report = report;
  e.report.quiet = true;
  // The sound as drawn: a silent channel stays silent (no dither noise) and the clicks
  // and tones keep their level (a mostly silent track is not raised to a loudness).
  e.sound.dither = false;
  e.sound.loudness_target = std::nan("");
  const encode::EncodeResult result = encode::Encode(e);
  const std::string track = directory + "/" + TrackFileName(number);
  if (result.status == 0) {
    if (result.tracks.empty()) throw CliError("the test track '" + t.title + "' came out empty");
    fs::rename(FsPath(result.tracks.front()), FsPath(track), ec);
    if (ec) throw CliError("cannot move the test track into '" + directory + "': " + ec.message());
    if (t.tables) WriteTables(track, *t.tables);
  }
  fs::remove_all(FsPath(work), ec);
  return result.status;
}

}  // namespace

encode::EncodeResult EncodeTestTracks(const DiscOptions& o, const Reporter& report) {
#ifdef _WIN32
  // The cards are lettered by FFmpeg's drawtext, which needs FreeType: not in the
  // libraries the Windows command is built with.
  throw CliError(
      "--test-pattern is not in the Windows command yet (its cards need a text library "
      "it is built without); make the test disc with the Linux command");
#endif
  if (::access(kPatternFont, R_OK) != 0) {
    throw CliError(std::string("the test disc's cards need the font '") + kPatternFont +
                   "': install it with 'sudo apt install fonts-dejavu-core'");
  }
  const std::string directory = TracksDirectory(o.name);
  std::error_code ec;
  // The tracks of an earlier test disc would be replaced without a word, and so
  // would anything else kept there.
  if (fs::exists(FsPath(directory), ec) && !fs::is_empty(FsPath(directory), ec)) {
    throw CliError("'" + directory +
                   "' is not empty, and the test disc writes its tracks there: remove it, "
                   "or give another -o NAME; nothing was written");
  }
  CheckFirstTrack(o.first);
  fs::create_directories(FsPath(directory), ec);
  if (ec) throw CliError("cannot make '" + directory + "': " + ec.message());
  const std::vector<PatternTrack> tracks = TestPatternTracks(kPatternFont);
  encode::EncodeResult result;
  for (size_t i = 0; i < tracks.size() && result.status == 0; ++i) {
    const int number = static_cast<int>(i) + 1;
    if (report.Words()) {
      std::fprintf(report.out, "Test track %d of %zu: %s (%g s)\n", number, tracks.size(),
                   tracks[i].title.c_str(), tracks[i].seconds);
      std::fflush(report.out);
    }
    result.status = EncodeTrack(tracks[i], number, directory, report);
    if (result.status == 0) result.tracks.push_back(directory + "/" + TrackFileName(number));
  }
  return result;
}

}  // namespace trackloom::cli::disc
