// The one way the command writes a length of time: "0:05", "12:03", "1:02:03",
// with decimals where a summary needs them ("0:05.56"). Hours appear from an hour on.
#pragma once

#include <string>

namespace trackloom::cli {

// seconds rounded to the nearest unit of the last digit shown; negative or not a
// number counts as 0.
std::string FormatDuration(double seconds, int decimals = 0);

// The same forms read back: "90", "1:30", "1:02:03.5" into seconds (minutes and
// seconds after a colon up to 59); false for anything else.
bool ParseTime(const std::string& text, double& seconds);

}  // namespace trackloom::cli
