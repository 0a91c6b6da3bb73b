#include "core/track_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace trackloom {

namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// Reads one number the way the list has always been read: white space, an optional
// sign, then decimal digits in unsigned 32-bit arithmetic that saturates at
// 4294967295; a minus sign negates the (possibly saturated) value. Returns the
// position after the last digit, or null when no digit was found.
const char* ReadNumber(const char* at, uint32_t& value) {
  while (IsBlank(*at)) ++at;
  bool negative = false;
  if (*at == '+' || *at == '-') {
    negative = *at == '-';
    ++at;
  }
  if (*at < '0' || *at > '9') return nullptr;
  uint64_t accumulated = 0;
  for (; *at >= '0' && *at <= '9'; ++at) {
    accumulated =
        std::min<uint64_t>(accumulated * 10 + static_cast<uint64_t>(*at - '0'), UINT32_MAX);
  }
  value = static_cast<uint32_t>(accumulated);
  if (negative) value = 0u - value;
  return at;
}

}  // namespace

void ParseTrackList(InstanceState& state, const char* text) {
  int count = 0;
  const char* at = text;
  while (*at != '\0') {
    uint32_t value = 0;
    const char* end = ReadNumber(at, value);
    if (end == nullptr || value == 0) {
      ++at;
      continue;
    }
    state.track_list[count++] = static_cast<int32_t>(value);
    if (count == kMaxBreakFrames || *end == '\0') break;
    at = end + 1;  // the character that ended the number is a separator, skipped unseen
  }
  state.track_list[count] = 0;
  std::sort(state.track_list, state.track_list + count);
}

void FormatTrackList(const InstanceState& state, char* out, const char* separator) {
  size_t used = 0;
  out[0] = '\0';
  for (int i = 0; i < kMaxBreakFrames && state.track_list[i] != 0; ++i) {
    const int written =
        std::snprintf(out + used, kTrackListTextCapacity - used, "%s%d", i == 0 ? "" : separator,
                      static_cast<int>(state.track_list[i]));
    if (written < 0 || used + static_cast<size_t>(written) >= kTrackListTextCapacity) break;
    used += static_cast<size_t>(written);
  }
}

}  // namespace trackloom
