#include "cli/common/duration.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

bool ParseTime(const std::string& text, double& seconds) {
  if (text.empty()) return false;
  double total = 0;
  size_t start = 0;
  int parts = 0;
  for (;;) {
    const size_t colon = text.find(':', start);
    const std::string part =
        text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
    const bool last = colon == std::string::npos;
    if (part.empty() || ++parts > 3) return false;
    size_t digits = 0;
    bool point = false;
    for (char c : part) {
      if (c >= '0' && c <= '9') {
        ++digits;
      } else if (c == '.' && last && !point) {
        point = true;
      } else {
        return false;
      }
    }
    if (digits == 0) return false;
    const double value = std::strtod(part.c_str(), nullptr);
    // Minutes and seconds after a colon count up to 59 as on a clock.
    if (parts > 1 && value >= 60) return false;
    total = total * 60 + value;
    if (last) break;
    start = colon + 1;
  }
  seconds = total;
  return true;
}

}  // namespace trackloom::cli
