// The filter's visible output during a render: black while idle, red with one white
// row during an encode, black again when the encode is finished.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "runner/editor.h"
#include "tests/scenario_support.h"
#include "tests/support/temp_dir.h"

namespace trackloom::scenario {
namespace {

constexpr uint32_t kUnpainted = 0x12345678;
constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kRed = 0xFF0000;
constexpr uint32_t kWhite = 0xFFFFFF;

// The first pixel that is not what a picture of colour with a white stored row
// (-1: none) should hold, as text; empty when every pixel is right.
std::string Mismatch(const runner::FilterInstance& filter, int32_t width, int32_t height, uint32_t colour,
                     int32_t white_row) {
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      const uint32_t want = y == white_row ? kWhite : colour;
      const uint32_t got = filter.output_pixel(x, y);
      if (got != want) {
        return "pixel (" + std::to_string(x) + ", stored row " + std::to_string(y) + ") is " + std::to_string(got) +
               ", expected " + std::to_string(want);
      }
    }
  }
  return "";
}

TEST(ScenarioPreview, WhiteRowClimbsWithTheOutputFrame) {
  testing::TempDir dir;
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);
  filter.RunScriptLine(ConfigLine("", dir.path(), ""));
  auto frames = Frames(1);
  const runner::Frame frame = *frames->Next();
  runner::OutputFormat output;
  output.fill = kUnpainted;
  ASSERT_EQ(filter.Start(frames->format(), output), 0);
  EXPECT_EQ(Mismatch(filter, 144, 80, kUnpainted, -1), "") << "start painted the output";

  struct Case {
    int32_t output_frame;
    uint32_t colour;
    int32_t white_row;  // stored row, 0 at the bottom
  };
  const Case cases[] = {
      {0, kBlack, -1},  // idle: the encode begins at frame 1
      {1, kRed, 1},    {2, kRed, 2},    {79, kRed, 79}, {80, kRed, 0},
      {85, kRed, 5},   {159, kRed, 79}, {160, kRed, 0}, {1000, kRed, 40},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("output frame " + std::to_string(c.output_frame));
    ASSERT_EQ(filter.Run(frame.picture, c.output_frame, c.output_frame), 0);
    EXPECT_EQ(Mismatch(filter, 144, 80, c.colour, c.white_row), "");
  }
  ASSERT_EQ(filter.End(), 0);
  EXPECT_EQ(Mismatch(filter, 144, 80, kBlack, -1), "") << "after the end";

  // Idle again: any frame but 1 passes over black, and painting does not reach past
  // the picture.
  output.fill = kUnpainted;
  ASSERT_EQ(filter.Start(frames->format(), output), 0);
  ASSERT_EQ(filter.Run(frame.picture, 7, 7), 0);
  EXPECT_EQ(Mismatch(filter, 144, 80, kBlack, -1), "");
  EXPECT_EQ(filter.output_pixels().back(), kUnpainted);
  ASSERT_EQ(filter.End(), 0);
}

TEST(ScenarioPreview, OutputOfAnotherSize) {
  struct Case {
    const char* what;
    int32_t width;
    int32_t height;
    int32_t output_frame;
    int32_t white_row;
  };
  const Case cases[] = {
      {"small picture, row 1", 10, 3, 1, 1},
      {"the row may lie above a short picture", 10, 3, 5, -1},
      {"taller picture, row 79", 20, 100, 79, 79},
      {"taller picture wraps at 80 all the same", 20, 100, 80, 0},
      {"zero width", 0, 80, 1, -1},
      {"zero height", 144, 0, 1, -1},
      {"negative width", -4, 80, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::TempDir dir;
    runner::Editor editor;
    auto module = OpenModule(editor);
    runner::FilterInstance filter(*module);
    filter.RunScriptLine(ConfigLine("", dir.path(), ""));
    auto frames = Frames(1);
    const runner::Frame frame = *frames->Next();
    runner::OutputFormat output;
    output.width = c.width;
    output.height = c.height;
    output.fill = kUnpainted;
    ASSERT_EQ(filter.Start(frames->format(), output), 0);
    // Frame 0 passes idle and frame 1 begins the encode.
    for (int32_t n : {0, 1, c.output_frame}) ASSERT_EQ(filter.Run(frame.picture, n, n), 0);
    if (c.width <= 0 || c.height <= 0) {
      // Nothing to paint: the one pixel the editor's buffer has stays as it was.
      for (uint32_t p : filter.output_pixels()) EXPECT_EQ(p, kUnpainted);
    } else {
      EXPECT_EQ(Mismatch(filter, c.width, c.height, kRed, c.white_row), "");
      EXPECT_EQ(filter.output_pixels().back(), kUnpainted) << "painted past the picture";
    }
    ASSERT_EQ(filter.End(), 0);
  }
}

}  // namespace
}  // namespace trackloom::scenario
