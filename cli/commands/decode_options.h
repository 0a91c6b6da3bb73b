// trackloom decode's command line: what to take out of which track, and where to.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/pictures/panel_view.h"

namespace trackloom::cli {

constexpr int kDefaultSheetLimit = 240;
constexpr int kSheetColumns = 8;
// 2000 thumbnails make a sheet of about 1200 x 25500 pixels, some 90 MB while it is built.
constexpr int kMaxSheetLimit = 2000;
// Panel pictures are nine times the size: 250 of them take about as much.
constexpr int kMaxPanelSheetLimit = 250;
constexpr int kMaxScale = 16;

struct DecodeOptions {
  std::string track;
  std::string output_dir;
  std::optional<uint64_t> first;
  std::optional<uint64_t> last;  // inclusive; none: to the end
  int scale = 1;
  View view = View::kPixels;
  std::string sheet;
  int sheet_limit = kDefaultSheetLimit;
  std::string video;
  bool pictures = true;
  bool sound = true;
  bool lenient = false;
  int disc_track = 0;  // of a disc image; 0: not given
  bool quiet = false;
  bool json = false;
  bool overwrite = false;
  // The files read (the track, or a disc image's sheet and audio files), which no
  // output may be.
  std::vector<std::string> inputs;
};

// Reads the command line after the subcommand's name into *o. Nothing: go on;
// otherwise the exit status (2 for a wrong command line, 0 for --help), with one
// line on err.
std::optional<int> ParseDecodeArguments(int argc, char** argv, DecodeOptions* o, std::FILE* out,
                                        std::FILE* err);

}  // namespace trackloom::cli
