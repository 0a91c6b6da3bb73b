// The cue sheet and the TOC of a disc image, written beside the reader of both
// (disc_image.h): one BIN, every track disc-at-once with no gaps.
#pragma once

#include <string>
#include <vector>

#include "cli/tracks/disc_plan.h"

namespace trackloom::cli {

// The cue sheet of parts in bin_name, for any burning program.
std::string CueSheet(const std::string& bin_name, const std::vector<DiscPart>& parts);
// The TOC of parts in bin_name, for cdrdao (the samples are little-endian: SWAP).
std::string TocFile(const std::string& bin_name, const std::vector<DiscPart>& parts);

}  // namespace trackloom::cli
