#include "core/track_list.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace trackloom {
namespace {

std::vector<int32_t> ListOf(const InstanceState& state) {
  std::vector<int32_t> out;
  for (int i = 0; i <= kMaxBreakFrames && state.track_list[i] != 0; ++i) out.push_back(state.track_list[i]);
  return out;
}

std::string Format(const InstanceState& state, const char* separator) {
  char text[kTrackListTextCapacity];
  std::memset(text, 'x', sizeof text);
  FormatTrackList(state, text, separator);
  return text;
}

TEST(TrackList, ParsesTextsAsTheEditorStoresThem) {
  struct Case {
    const char* text;
    std::vector<int32_t> list;
    const char* formatted;  // with ";"
  };
  const Case cases[] = {
      {"", {}, ""},
      {"0", {}, ""},
      {"0 0 0", {}, ""},
      {"300\r\n100\r\n200", {100, 200, 300}, "100;200;300"},
      {"100;250", {100, 250}, "100;250"},
      {"abc12def", {12}, "12"},
      {"12abc", {12}, "12"},
      {"5-3", {3, 5}, "3;5"},  // the minus is the skipped separator
      {"10 -5", {-5, 10}, "-5;10"},
      {"4294967296", {-1}, "-1"},  // saturates at 4294967295
      {"-99999999999", {1}, "1"},  // saturates, then negates
      {"0x10", {10}, "10"},
      {"100 100", {100, 100}, "100;100"},
      {"  +7\t", {7}, "7"},
      {"-2147483648 2147483647", {INT32_MIN, INT32_MAX}, "-2147483648;2147483647"},
      {"--5", {-5}, "-5"},  // a sign without digits moves on one character
      {"1,,2", {1, 2}, "1;2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    InstanceState state{};
    ParseTrackList(state, c.text);
    EXPECT_EQ(ListOf(state), c.list);
    EXPECT_EQ(Format(state, ";"), c.formatted);
  }
}

TEST(TrackList, KeepsTheFirstSixtyNumbersSortedAndLeavesLaterEntriesAlone) {
  InstanceState state{};
  std::string text;
  for (int i = 70; i >= 1; --i) text += std::to_string(i) + "\n";
  ParseTrackList(state, text.c_str());
  std::vector<int32_t> expected;
  for (int i = 11; i <= 70; ++i) expected.push_back(i);  // the first sixty read: 70 down to 11
  EXPECT_EQ(ListOf(state), expected);
  EXPECT_EQ(state.track_list[kMaxBreakFrames], 0);

  // A shorter list replaces entries up to its terminator only.
  ParseTrackList(state, "5");
  EXPECT_EQ(state.track_list[0], 5);
  EXPECT_EQ(state.track_list[1], 0);
  EXPECT_EQ(state.track_list[2], 13);  // left from the longer list
}

TEST(TrackList, FormatsWithEitherSeparatorAndFitsTheLongestList) {
  InstanceState state{};
  ParseTrackList(state, "300\n100\n200");
  EXPECT_EQ(Format(state, "\r\n"), "100\r\n200\r\n300");

  std::string text;
  for (int i = 0; i < kMaxBreakFrames; ++i) text += "-2147483648 ";
  ParseTrackList(state, text.c_str());
  const std::string formatted = Format(state, "\r\n");
  EXPECT_EQ(formatted.size(), 60u * 11 + 59u * 2);
  EXPECT_LT(formatted.size(), static_cast<size_t>(kTrackListTextCapacity));
  // The formatted text reads back to the same list.
  InstanceState again{};
  ParseTrackList(again, formatted.c_str());
  EXPECT_EQ(ListOf(again), ListOf(state));
}

TEST(TrackList, StopsAtTheTerminator) {
  // The buffer holds "100", its terminator, then more digits that must not be read.
  const char buffer[] = {'1', '0', '0', '\0', '2', '0', '0', '\0'};
  InstanceState state{};
  ParseTrackList(state, buffer);
  EXPECT_EQ(ListOf(state), std::vector<int32_t>{100});
}

}  // namespace
}  // namespace trackloom
