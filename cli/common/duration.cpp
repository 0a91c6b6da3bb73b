#include "cli/common/duration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace trackloom::cli {

std::string FormatDuration(double seconds, int decimals) {
  if (!(seconds > 0)) seconds = 0;
  decimals = std::clamp(decimals, 0, 9);
  long long scale = 1;
  for (int i = 0; i < decimals; ++i) scale *= 10;
  const long long units = std::llround(seconds * static_cast<double>(scale));
  const long long whole = units / scale;
  char text[48];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                  whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", whole / 60, whole % 60);
  }
  std::string result = text;
  if (decimals > 0) {
    const std::string fraction = std::to_string(units % scale);
    result += '.' + std::string(static_cast<size_t>(decimals) - fraction.size(), '0') + fraction;
  }
  return result;
}

}  // namespace trackloom::cli
