// trackloom play: the tracks on the screen and the speakers, as the player shows them.
#include <charconv>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/fs_path.h"
#include "cli/common/messages.h"
#include "cli/common/reporter.h"
#include "cli/sdl/sdl_player.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr const char kUsageHead[] =
    "Usage: trackloom play [--scale N] [--no-sound] TRACK... | NAME.cue\n"
    "\n"
    "Plays track files in a window as a VideoNow Color player would: 18 records a\n"
    "second, each picture as the player's panel shows it (216 x 160 dots, red, green\n"
    "and blue, 16 levels each) at the screen's 4:3 shape, with the records' sound,\n"
    "which keeps the time. The tracks play one after the other without a gap.\n"
    "A disc image (NAME.cue or NAME.toc, as 'trackloom disc' writes it) plays\n"
    "track by track, as the player plays the burnt disc.\n"
    "\n"
    "Keys:\n"
    "  space      pause / resume\n"
    "  right      next track\n"
    "  left       previous track (the first track starts again)\n"
    "  f          full screen on / off\n"
    "  q, Esc     quit\n"
    "\n"
    "Options:\n";

constexpr const char kUsageTail[] =
    "\n"
    "Records are found by their header, so tracks from other encoders (other lead-in\n"
    "lengths) play too. A damaged record shows black and plays silence.\n"
    "\n"
    "Exit status: 0 done (the last track ended, or you quit), 1 failed (no display,\n"
    "or no track holds a record; one line on stderr says why), 2 bad options (or a\n"
    "file that cannot be read).\n"
    "\n"
    "Example:\n"
    "  trackloom play demo-tracks/*.wav\n"
    "  trackloom play film.cue\n";

constexpr int kMaxScale = 16;

uint64_t WholeRecords(ByteSource& source, uint64_t first_record) {
  const uint64_t size = source.Size();
  return first_record < size ? (size - first_record) / kFrameRecordSize : 0;
}

// 0, or the exit status after a message.
int AddTrackFile(const std::string& path, std::vector<sdl::PlayTrack>* tracks,
                 const Reporter& reporter) {
  std::string error;
  std::unique_ptr<FileSource> source = FileSource::Open(path, &error);
  if (source == nullptr) {
    reporter.Error("cannot open " + path + ": " + error);
    return 2;
  }
  sdl::PlayTrack track;
  track.path = path;
  track.name = Utf8Name(FsPath(path).filename());
  track.first_record = FindFirstRecord(*source);
  track.record_count = WholeRecords(*source, track.first_record);
  if (track.record_count == 0) {
    reporter.Error(path + " holds no record (see 'trackloom inspect'); skipped");
    return 0;
  }
  track.source = std::move(source);
  tracks->push_back(std::move(track));
  return 0;
}

// Every track of the image that holds records, in disc order; the silence that pads a
// disc out holds none and is passed over, as the player passes over it.
int AddDiscImage(const std::string& path, std::vector<sdl::PlayTrack>* tracks,
                 const Reporter& reporter) {
  std::string error;
  const std::optional<DiscImage> image = ReadDiscImage(path, &error);
  if (!image) {
    reporter.Error("cannot read the disc image " + path + ": " + error);
    return 2;
  }
  const std::string name = Utf8Name(FsPath(path).filename());
  for (const DiscTrack& disc_track : image->tracks) {
    std::unique_ptr<ByteSource> source = OpenDiscTrack(disc_track, &error);
    if (source == nullptr) {
      reporter.Error(path + ", track " + std::to_string(disc_track.number) + ": " + error);
      return 2;
    }
    sdl::PlayTrack track;
    track.path = path;
    track.name = name + ", track " + std::to_string(disc_track.number);
    track.first_record = FindFirstRecord(*source, true);
    track.record_count = WholeRecords(*source, track.first_record);
    if (track.record_count == 0) continue;
    track.source = std::move(source);
    tracks->push_back(std::move(track));
  }
  return 0;
}

std::string SetScale(const std::string& value, int* scale) {
  if (ParseWholeNumber(value, 1, kMaxScale, scale)) return "";
  return "--scale takes a whole number from 1 to " + std::to_string(kMaxScale) + ", not '" + value +
         "'";
}

}  // namespace

int PlayMain(int argc, char** argv, const Reporter& reporter) {
  sdl::PlayerOptions player;
  const std::vector<Option> table = {
      {"scale", 0, "a whole number",
       [&player](const std::string& v) { return SetScale(v, &player.scale); }, "N",
       "window size: 216 x 162 pixels times N (1-16, default 3)"},
      {"no-sound", 0, nullptr, StoreFlag(&player.sound, false), nullptr,
       "play the pictures only, on a timer"},
  };
  const CommandLine line = ReadCommandLine(
      argc, argv, table, HelpText(kUsageHead, table, {15, "show this help"}, kUsageTail),
      reporter.out, reporter.err);
  if (line.exit_status) return *line.exit_status;
  if (line.operands.empty()) return UsageError(reporter.err, "play", "no track file given");

  std::vector<sdl::PlayTrack> tracks;
  for (const std::string& path : line.operands) {
    const int status = IsDiscImageName(path) ? AddDiscImage(path, &tracks, reporter)
                                             : AddTrackFile(path, &tracks, reporter);
    if (status != 0) return status;
  }
  if (tracks.empty()) {
    reporter.Error("nothing to play");
    return 1;
  }
  return sdl::RunPlayer(tracks, player, reporter.err);
}

int RunPlay(int argc, char** argv) { return PlayMain(argc, argv, {}); }

}  // namespace trackloom::cli
