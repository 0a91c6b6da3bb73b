// What `trackloom disc` tells once its images are written: each disc's tracks, time and
// time left, and how to burn them; or the same as JSON for --json.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "cli/common/reporter.h"
#include "cli/disc/make_disc.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::disc {

// bases[i] is the NAME (with its directory) plans[i] was written to.
void DiscSummary(std::FILE* out, const DiscOptions& o, const std::vector<std::string>& bases,
                 const std::vector<DiscPlan>& plans);
void DiscJson(std::FILE* out, const DiscOptions& o, const std::vector<std::string>& bases,
              const std::vector<DiscPlan>& plans);
// What MakeDisc wrote, as report asks: words, JSON or nothing.
void ReportDisc(const DiscOptions& o, const DiscResult& result, const Reporter& report);

}  // namespace trackloom::cli::disc
