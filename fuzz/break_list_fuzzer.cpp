// Feeds arbitrary text to the break-frame list's readers: the filter's (ParseTrackList,
// for the dialog and the script string) and the command's (--break and --break-at).
// The filter's list must stay a valid list whose text form reads back to itself, and
// a --break value the command accepts must reach the filter whole.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/encode/encode.h"
#include "core/track_list.h"

namespace {

using trackloom::InstanceState;
using trackloom::kMaxBreakFrames;

void Check(bool condition) {
  if (!condition) std::abort();
}

int ListLength(const InstanceState& state) {
  int n = 0;
  while (n < kMaxBreakFrames && state.track_list[n] != 0) ++n;
  return n;
}

void CheckList(const InstanceState& state) {
  const int n = ListLength(state);
  Check(state.track_list[n] == 0);
  for (int i = 1; i < n; ++i) Check(state.track_list[i - 1] <= state.track_list[i]);
}

// Writes the list with separator and reads it back: the same list.
void CheckRoundTrip(const InstanceState& state, const char* separator) {
  static InstanceState again;
  static char text[trackloom::kTrackListTextCapacity + 1];
  text[trackloom::kTrackListTextCapacity] = '\x7F';  // past the end: never written
  trackloom::FormatTrackList(state, text, separator);
  Check(text[trackloom::kTrackListTextCapacity] == '\x7F');
  Check(std::strlen(text) < trackloom::kTrackListTextCapacity);
  trackloom::ParseTrackList(again, text);
  const int n = ListLength(state);
  Check(ListLength(again) == n);
  Check(std::memcmp(again.track_list, state.track_list, sizeof(int32_t) * (n + 1)) == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  // The instance record is large and the editor zero-fills it once; a leftover list
  // from the previous input is what a second Config call finds too.
  static InstanceState state;
  trackloom::ParseTrackList(state, text.c_str());
  CheckList(state);
  CheckRoundTrip(state, ";");
  CheckRoundTrip(state, "\r\n");

  std::vector<int> frames;
  if (!trackloom::cli::encode::ReadBreakFrames(text, frames)) {
    // Every frame the command accepts is one the filter keeps as it is.
    for (const int frame : frames) Check(frame >= 1);
    if (static_cast<int>(frames.size()) <= kMaxBreakFrames) {
      static InstanceState filter;
      trackloom::ParseTrackList(filter, text.c_str());
      Check(ListLength(filter) == static_cast<int>(frames.size()));
    }
  }

  double seconds = -1;
  if (trackloom::cli::ParseTime(text, seconds)) {
    // Hundreds of digits read as infinity: still a time the command refuses as too
    // far in, never a negative frame.
    Check(seconds >= 0);
    for (const double rate : {23.976, 30.0, 1000.0}) {
      Check(trackloom::cli::encode::FrameAtTime(seconds, rate) >= 0);
    }
  }
  return 0;
}
