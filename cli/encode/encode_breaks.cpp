#include <climits>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/arguments.h"
#include "cli/encode/encode.h"

namespace trackloom::cli::encode {

std::optional<std::string> ReadBreakFrames(const std::string& text, std::vector<int>& frames) {
  const auto separator = [](char c) { return c == ',' || c == ';' || c == ' ' || c == '\t'; };
  bool any = false;
  size_t i = 0;
  while (i < text.size()) {
    if (separator(text[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < text.size() && !separator(text[end])) ++end;
    const std::string item = text.substr(i, end - i);
    int frame = 0;
    // Frame 0 starts the first track anyway; a larger number than the filter's
    // 32-bit frame counter is no frame at all.
    if (!ParseWholeNumber(item, 1, INT_MAX, &frame)) return item;
    frames.push_back(frame);
    any = true;
    i = end;
  }
  if (!any) return text;
  return std::nullopt;
}

int64_t FrameAtTime(double seconds, double frame_rate) {
  // The small allowance keeps a time given to the frame (1.5 s at 30 fps) on that
  // frame despite binary fractions.
  const double frame = std::floor(seconds * frame_rate + 1e-6);
  // 2^63: a time of centuries is no 64-bit frame number. It becomes the largest one,
  // which the caller refuses as too far in, rather than whatever the conversion gives.
  if (!(frame < 9223372036854775808.0)) return INT64_MAX;
  return static_cast<int64_t>(frame);
}

}  // namespace trackloom::cli::encode
