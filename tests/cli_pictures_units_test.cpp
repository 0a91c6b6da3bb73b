// The command's pictures room on its own: subpixel sampling, the panel's shape,
// the pixels view in YUV, and the levels pictures are reduced to.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "cli/pictures/level_choice.h"
#include "cli/pictures/panel_levels.h"
#include "cli/pictures/panel_view.h"
#include "cli/pictures/subpixel_sampling.h"
#include "cli/pictures/view_yuv.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

// A line one dot wide, drawn down the whole picture on the half-dot cells, in one
// component: sampled a component at its dot, it is brightest on the panel exactly at
// that dot among the dots of its colour in its row, where the panel view lights it.
TEST(CliUnits, SubpixelSamplingPutsEachComponentOnItsDot) {
  struct Case {
    int column, component;  // the stored pixel's component that carries the line
    int dot, dot_row;       // where the panel shows it: dot column, 0 or 1 in the row pair
  };
  const Case cases[] = {
      {10, 0, 15, 0}, {10, 1, 15, 1}, {10, 2, 16, 1},  // an even column: R G B
      {11, 0, 17, 1}, {11, 1, 16, 0}, {11, 2, 17, 0},  // an odd one
      {0, 1, 0, 1},   {143, 2, 215, 0},                // at the picture's sides
  };
  constexpr int kRow = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE("column " + std::to_string(c.column) + " component " + std::to_string(c.component));
    std::vector<uint8_t> cells(size_t{kCellWidth} * kCellHeight * 4, 0);
    const int first_cell = 2 * c.dot - c.dot_row;  // odd dot rows sit one cell to the left
    for (int y = 0; y < kCellHeight; ++y) {
      for (int x = std::max(first_cell, 0); x < first_cell + 2; ++x)
        cells[(y * kCellWidth + x) * 4 + 2 - c.component] = 255;
    }
    std::vector<uint8_t> bgra(size_t{kPictureWidth} * kPictureHeight * 4);
    SampleSubpixels(cells.data(), kCellWidth * 4, bgra.data(), kPictureWidth * 4);
    std::vector<uint8_t> rgb(size_t{kPictureWidth} * kPictureHeight * 3), panel(kPanelImageSize);
    for (int i = 0; i < kPictureWidth * kPictureHeight; ++i) {
      for (int k = 0; k < 3; ++k) rgb[i * 3 + k] = bgra[i * 4 + 2 - k];
    }
    RenderPanel(rgb.data(), panel.data());
    const uint8_t* row = panel.data() + (2 * kRow + c.dot_row) * kPanelWidth * 3;
    int brightest = -1;
    for (int x = 0; x < kPanelWidth; ++x) {
      if (brightest < 0 || row[x * 3 + c.component] > row[brightest * 3 + c.component]) brightest = x;
    }
    EXPECT_EQ(brightest, c.dot);
    EXPECT_EQ(DotOfComponent(c.column, c.component).first_cell, first_cell);
    EXPECT_EQ(DotOfComponent(c.column, c.component).row, c.dot_row);
  }
}

TEST(CliUnits, PanelFillsTheLargestFourByThreeRectangleOfAnyWindow) {
  struct Case {
    int width, height;
    PictureRect expected;
  };
  const Case cases[] = {
      {648, 486, {0, 0, 648, 486}},         // the window as play opens it
      {1920, 1080, {240, 0, 1440, 1080}},   // a wide full screen: bands at the sides
      {600, 1000, {0, 275, 600, 450}},      // a tall window: bands above and below
      {1, 1, {0, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const PictureRect r = FitDisplayShape(c.width, c.height);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
  }
}

// The pixels view made 4:2:0 at once is the RGB view converted: Y of each pixel,
// chroma of each 2 x 2 block's mean (BT.601 studio range).
TEST(CliUnits, PixelsViewYuvIsTheViewConverted) {
  std::vector<uint8_t> rgb(kRgbPictureSize);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7919 % 251);
  for (const int scale : {1, 3, 4}) {
    SCOPED_TRACE(scale);
    const PictureRect size = ViewDisplaySize(View::kPixels, scale);
    const int w = size.width, h = size.height;
    std::vector<uint8_t> shown(static_cast<size_t>(w) * h * 3), yuv(Yuv420Size(w, h));
    RenderView(View::kPixels, rgb.data(), w, h, shown.data());
    PixelsViewYuv(w, h).Render(rgb.data(), yuv.data());
    const auto at = [&](int x, int y, int c) { return int{shown[(y * w + x) * 3 + c]}; };
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        wrong += yuv[y * w + x] !=
                 ((66 * at(x, y, 0) + 129 * at(x, y, 1) + 25 * at(x, y, 2) + 128) >> 8) + 16;
    }
    for (int y = 0; y < h / 2; ++y) {
      for (int x = 0; x < w / 2; ++x) {
        int sum[3] = {};
        for (int c = 0; c < 3; ++c)
          sum[c] = at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) +
                   at(2 * x + 1, 2 * y + 1, c);
        const size_t u = static_cast<size_t>(w) * h + y * (w / 2) + x;
        wrong += yuv[u] != ((-38 * sum[0] - 74 * sum[1] + 112 * sum[2] + 512) >> 10) + 128;
        wrong += yuv[u + w / 2 * (h / 2)] !=
                 ((112 * sum[0] - 94 * sum[1] - 18 * sum[2] + 512) >> 10) + 128;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

// Reduced towards the even aim, any picture comes out as ReduceToPanelLevels makes
// it; towards an uneven one, a flat area averages to its value as shown.
TEST(CliUnits, LevelReducerAimsAtAnyShownLevels) {
  std::vector<uint8_t> random(size_t{kPictureWidth} * kPictureHeight * 4);
  uint32_t seed = 12345;
  for (uint8_t& b : random) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  levels::Tables fine = levels::StandardTables();
  for (int n = 0; n < levels::kEntries; ++n) fine.level[1][n] = static_cast<uint8_t>(n + 4);
  struct Case {
    Dither dither;
    bool even;
    double most_error;  // of a flat picture's shown mean, in 8-bit steps
  };
  const Case cases[] = {{Dither::kOrdered, true, 0}, {Dither::kNone, true, 0},
                        {Dither::kOrdered, false, 0.6}, {Dither::kNone, false, 4.2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.dither)) + (c.even ? " even" : " uneven"));
    const LevelAim aim = c.even ? EvenAim() : AimAt(fine);
    const LevelReducer reducer(aim, c.dither);
    if (c.even) {
      std::vector<uint8_t> mine = random, theirs = random;
      reducer.Reduce(mine.data(), kPictureWidth * 4);
      ReduceToPanelLevels(theirs.data(), kPictureWidth * 4, c.dither);
      EXPECT_EQ(mine, theirs);
      continue;
    }
    for (int value = 40; value <= 120; value += 7) {
      std::vector<uint8_t> flat(random.size(), static_cast<uint8_t>(value));
      reducer.Reduce(flat.data(), kPictureWidth * 4);
      double sum = 0;
      for (size_t i = 1; i < flat.size(); i += 4) sum += aim[1][flat[i] / 17];
      EXPECT_NEAR(sum / static_cast<double>(flat.size() / 4), value, c.most_error) << value;
    }
  }
}

// The tables chosen for pictures whose values lie in one range spend the finest steps
// (consecutive panel levels) there, and always rise.
TEST(CliUnits, LevelChoiceSpendsStepsWhereThePicturesAre) {
  struct Case {
    const char* name;
    int low, high;          // every component's values, evenly
    int least_inside;       // levels at least, of those shown within low..high
  };
  const Case cases[] = {{"dark", 0, 60, 8}, {"fog", 150, 200, 6}, {"whole range", 0, 255, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> picture(size_t{kPictureWidth} * kPictureHeight * 4);
    for (size_t i = 0; i < picture.size(); ++i)
      picture[i] = static_cast<uint8_t>(c.low + (i / 4 * 7 + i % 4) % (c.high - c.low + 1));
    LevelHistograms histograms;
    histograms.Add(picture.data(), kPictureWidth * 4);
    for (Dither dither : {Dither::kOrdered, Dither::kNone}) {
      const levels::Tables t = ChooseTables(histograms, dither);
      for (int component = 0; component < levels::kComponents; ++component) {
        int inside = 0;
        for (int n = 0; n < levels::kEntries; ++n) {
          if (n > 0) {
            EXPECT_LT(t.level[component][n - 1], t.level[component][n]);
          }
          EXPECT_LT(t.level[component][n], levels::kPanelLevels);
          const int shown = levels::ShownValue(t.level[component][n]);
          inside += shown >= c.low && shown <= c.high;
        }
        EXPECT_GE(inside, c.least_inside) << "component " << component;
      }
    }
  }
}

}  // namespace
}  // namespace trackloom::cli
