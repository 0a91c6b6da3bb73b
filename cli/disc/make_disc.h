// Track files into a disc image a CD writer burns as the player
// needs it (first track, the user's tracks, an end track, silent padding; disc-at-once,
// no gaps): NAME.bin with NAME.cue for any burning program, NAME.toc for cdrdao.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/reporter.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::disc {

// What MakeDisc wrote: the NAME (with its directory) of each disc, and its plan.
struct DiscResult {
  std::vector<std::string> bases;
  std::vector<DiscPlan> plans;
};

// Checks everything and writes the image (the images, with --split), its progress and
// notes said through report; the summary is the caller's (ReportDisc). Throws CliError
// when refused or failed and Stopped when stopped, leaving no image either way.
// Installs no signal handlers: the caller does.
DiscResult MakeDisc(const DiscOptions& options, const Reporter& report);

}  // namespace trackloom::cli::disc
