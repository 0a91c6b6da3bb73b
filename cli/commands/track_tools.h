// The inspect, decode and repair subcommands with their Reporter passed in (its
// streams; the options fill in the rest), so that tests can run them as a user would
// and read what they print.
#pragma once

#include "cli/common/reporter.h"

namespace trackloom::cli {

int InspectMain(int argc, char** argv, Reporter reporter);
int DecodeMain(int argc, char** argv, Reporter reporter);
int RepairMain(int argc, char** argv, Reporter reporter);

}  // namespace trackloom::cli
