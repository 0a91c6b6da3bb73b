// trackloom play: the tracks on the screen and the speakers, as the player shows them.
#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "cli/sdl/sdl_player.h"
#include "cli/commands/subcommands.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr const char kUsage[] =
    "Usage: trackloom play [--scale N] [--no-sound] TRACK...\n"
    "\n"
    "Plays track files in a window as a VideoNow Color player would: 18 records a\n"
    "second, each picture as the player's panel shows it (216 x 160 dots, red, green\n"
    "and blue, 16 levels each) at the screen's 4:3 shape, with the records' sound,\n"
    "which keeps the time. The tracks play one after the other without a gap.\n"
    "\n"
    "Keys:\n"
    "  space      pause / resume\n"
    "  right      next track\n"
    "  left       previous track (the first track starts again)\n"
    "  f          full screen on / off\n"
    "  q, Esc     quit\n"
    "\n"
    "Options:\n"
    "  --scale N    window size: 216 x 162 pixels times N (1-16, default 3)\n"
    "  --no-sound   play the pictures only, on a timer\n"
    "  -h, --help   show this help\n"
    "\n"
    "Records are found by their header, so tracks from other encoders (other lead-in\n"
    "lengths) play too. A damaged record shows black and plays silence.\n"
    "\n"
    "Exit status: 0 when the last track ended or you quit, 1 when there is no display\n"
    "or no track holds a record, 2 for a wrong command line or a file that cannot be read.\n"
    "\n"
    "Example:\n"
    "  trackloom play demo-tracks/*.wav\n";

constexpr int kMaxScale = 16;

struct Options {
  std::vector<std::string> tracks;
  PlayerOptions player;
};

bool EndsWith(std::string_view text, std::string_view end) {
  return text.size() >= end.size() && text.substr(text.size() - end.size()) == end;
}

// 0: parsed; -1: help shown; otherwise the exit status.
int ParseArguments(int argc, char** argv, Options* o, std::FILE* out, std::FILE* err) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options_done || arg.empty() || arg[0] != '-' || arg == "-") {
      o->tracks.emplace_back(arg);
    } else if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, out);
      return -1;
    } else if (arg == "--") {
      options_done = true;
    } else if (arg == "--scale" || arg.rfind("--scale=", 0) == 0) {
      std::string_view v;
      if (arg != "--scale") {
        v = arg.substr(8);
      } else if (i + 1 < argc) {
        v = argv[++i];
      } else {
        std::fprintf(err, "trackloom play: --scale needs a value (see 'trackloom play --help')\n");
        return 2;
      }
      int scale = 0;
      const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), scale);
      if (v.empty() || ec != std::errc() || end != v.data() + v.size() || scale < 1 || scale > kMaxScale) {
        std::fprintf(err, "trackloom play: --scale takes a whole number from 1 to %d, not '%.*s'\n", kMaxScale,
                     static_cast<int>(v.size()), v.data());
        return 2;
      }
      o->player.scale = scale;
    } else if (arg == "--no-sound") {
      o->player.sound = false;
    } else {
      std::fprintf(err, "trackloom play: unknown option '%s' (see 'trackloom play --help')\n", argv[i]);
      return 2;
    }
  }
  if (o->tracks.empty()) {
    std::fprintf(err, "trackloom play: no track file given\n\n%s", kUsage);
    return 2;
  }
  return 0;
}

}  // namespace

int PlayMain(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options o;
  const int parsed = ParseArguments(argc, argv, &o, out, err);
  if (parsed != 0) return parsed < 0 ? 0 : parsed;

  std::vector<PlayTrack> tracks;
  for (const std::string& path : o.tracks) {
    if (EndsWith(path, ".cue")) {
      std::fprintf(err, "trackloom play: %s is a disc image; play its track files instead\n", path.c_str());
      return 2;
    }
    std::string error;
    std::unique_ptr<FileSource> source = FileSource::Open(path, &error);
    if (source == nullptr) {
      std::fprintf(err, "trackloom play: cannot open %s: %s\n", path.c_str(), error.c_str());
      return 2;
    }
    PlayTrack track;
    track.path = path;
    track.first_record = FindFirstRecord(*source);
    const uint64_t size = source->Size();
    track.record_count = track.first_record < size ? (size - track.first_record) / kFrameRecordSize : 0;
    if (track.record_count == 0) {
      std::fprintf(err, "trackloom play: %s holds no record (see 'trackloom inspect'); skipped\n", path.c_str());
      continue;
    }
    track.source = std::move(source);
    tracks.push_back(std::move(track));
  }
  if (tracks.empty()) {
    std::fprintf(err, "trackloom play: nothing to play\n");
    return 1;
  }
  return RunPlayer(tracks, o.player, err);
}

int RunPlay(int argc, char** argv) { return PlayMain(argc, argv, stdout, stderr); }

}  // namespace trackloom::cli
