// Progress for a program that runs the command and shows it its own way (the
// studio's page): with TRACKLOOM_PROGRESS_FD=N in the environment, the frames done
// and expected are also written to file descriptor N as lines "DONE TOTAL" (TOTAL
// -1 when not known), whether or not a terminal shows the progress line.
#pragma once

#include <cstdint>

namespace trackloom::cli {

// Writes a line at most ten times a second, and always the first and the last.
void FeedProgress(int64_t done, int64_t total);

}  // namespace trackloom::cli
