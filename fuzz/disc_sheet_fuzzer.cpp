// Feeds an arbitrary file to the disc image reader of trackloom inspect and decode, as a
// cue sheet and as a cdrdao TOC, beside two audio files it may name ("a.bin", raw, and
// "a.wav"), each a lead-in and two records. Every track of a sheet it takes is then
// opened and read as the player reads it.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "cli/tracks/disc_image.h"
#include "core/track_format.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

void Write(const std::string& path, const uint8_t* data, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  Check(static_cast<bool>(out));
}

// A directory holding the audio files, made once and removed at exit.
struct Scratch {
  std::string path;
  ~Scratch() {
    for (const char* name : {"/a.bin", "/a.wav", "/sheet"}) unlink((path + name).c_str());
    rmdir(path.c_str());
  }
};

const std::string& Directory() {
  static const Scratch directory{[] {
    char pattern[] = "/tmp/trackloom-disc-sheet-XXXXXX";
    Check(mkdtemp(pattern) != nullptr);
    std::vector<uint8_t> audio(trackloom::kLeadInSize);
    for (int k = 0; k < 2; ++k) {
      audio.insert(audio.end(), trackloom::kRecordHeaderTemplate,
                   trackloom::kRecordHeaderTemplate + trackloom::kRecordHeaderSize);
      audio.resize(audio.size() + trackloom::kFrameBlockSize, static_cast<uint8_t>(k + 1));
    }
    const std::string dir = pattern;
    Write(dir + "/a.bin", audio.data(), audio.size());
    std::vector<uint8_t> wav = {'R', 'I', 'F',  'F',  0,   0,   0,    0,    'W', 'A', 'V',
                                'E', 'f', 'm',  't',  ' ', 16,  0,    0,    0,   1,   0,
                                2,   0,   0x44, 0xAC, 0,   0,   0x10, 0xB1, 2,   0,   4,
                                0,   16,  0,    'd',  'a', 't', 'a',  0,    0,   0,   0};
    const auto size = static_cast<uint32_t>(audio.size());
    for (int i = 0; i < 4; ++i) wav[40 + i] = static_cast<uint8_t>(size >> (8 * i));
    wav.insert(wav.end(), audio.begin(), audio.end());
    Write(dir + "/a.wav", wav.data(), wav.size());
    return dir;
  }()};
  return directory.path;
}

// Tracks longer than this are silence the sheet asked for: reading them proves nothing more.
constexpr uint64_t kLongestTrackRead = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string sheet = Directory() + "/sheet";
  Write(sheet, data, size);
  for (const auto kind : {trackloom::cli::SheetKind::kCue, trackloom::cli::SheetKind::kToc}) {
    std::string error;
    const std::optional<trackloom::cli::DiscImage> image =
        trackloom::cli::ReadDiscImage(sheet, &error, kind);
    if (!image) {
      Check(!error.empty());  // refused with a reason
      continue;
    }
    Check(!image->tracks.empty() && image->tracks.size() <= 99);
    int previous = 0;
    for (const trackloom::cli::DiscTrack& track : image->tracks) {
      // Numbered upwards, and within what a CD holds.
      Check(track.number > previous);
      previous = track.number;
      Check(track.start_sector + (track.length() + trackloom::cli::kCdSectorBytes - 1) /
                                     trackloom::cli::kCdSectorBytes <=
            trackloom::cli::kCdMaxSectors);
      if (track.length() > kLongestTrackRead) continue;
      std::unique_ptr<trackloom::cli::ByteSource> source =
          trackloom::cli::OpenDiscTrack(track, &error);
      Check(source != nullptr);  // every file it names was there when it was read
      Check(source->Size() == track.length());
      std::vector<uint8_t> bytes(static_cast<size_t>(track.length()));
      Check(source->ReadAt(0, bytes.data(), bytes.size()));
      trackloom::cli::InspectOptions options;
      options.headerless = true;
      const trackloom::cli::TrackReport report = trackloom::cli::InspectTrack(*source, options);
      Check(!report.read_failed);
    }
  }
  return 0;
}
