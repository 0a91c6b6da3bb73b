// trackloom rip: the parts of the command that share its options and what it found.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/cdio/cd_reader.h"
#include "cli/pictures/panel_view.h"
#include "cli/tracks/disc_reader.h"
#include "cli/tracks/record_stream.h"

namespace trackloom::cli {

struct RipOptions {
  std::vector<std::string> sources;
  std::string output;
  bool each = false;
  bool overwrite = false;
  bool quiet = false;
  bool json = false;
  bool paranoia_given = false;
  cdio::CdReadOptions read;
  View view = View::kPixels;
  int scale = 0;  // 0: the view's default
};

// What a rip found and wrote, for its summary.
struct RipResult {
  std::string how;  // how the disc was read
  std::vector<ChapterReport> chapters;
  std::vector<TrackSeen> tracks;
  std::vector<int> data_tracks;
  std::vector<CutTrack> cut;  // tracks the source holds less of, or none
  std::vector<std::string> written;
  uint64_t read_errors = 0;
};

// "track 3: 2 damaged records at 0:41.2, 1 at 2:03.5, shown as the picture before".
std::string DamageLine(const ChapterReport& chapter);
// "track 3 cut short after 0:04.1 of 0:12.0, track 4 missing" (disc time).
std::string CutText(const std::vector<CutTrack>& cut);
void RipSummary(std::FILE* out, const RipOptions& o, const RipResult& r);
void RipJson(std::FILE* out, const RipOptions& o, const RipResult& r);

}  // namespace trackloom::cli
