// The progress picture: which bytes FillPreview paints, in which order rows are
// stored, and what it leaves alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/filter_module.h"

namespace trackloom {
namespace {

constexpr uint8_t kGuard = 0xAB;

// Red, white and black as stored: blue, green, red, unused byte.
const uint8_t kRedBytes[4] = {0x00, 0x00, 0xFF, 0x00};
const uint8_t kWhiteBytes[4] = {0xFF, 0xFF, 0xFF, 0x00};
const uint8_t kBlackBytes[4] = {0x00, 0x00, 0x00, 0x00};

TEST(FillPreview, PaintsStoredRowsAndLeavesEverythingElse) {
  struct Case {
    const char* name;
    int32_t width;
    int32_t height;
    int padding;      // bytes after each row's pixels, not to be touched
    bool top_down;    // buffer top row first, delivered with a negative pitch
    uint32_t colour;
    int32_t marker;
    int white_memory_row;  // the row of the buffer (in memory order) that turns white; -1 none
  };
  const Case cases[] = {
      {"red, marker 5 from the bottom", 144, 80, 0, false, kPreviewRed, 5, 5},
      {"red, marker 0 is the bottom row", 144, 80, 0, false, kPreviewRed, 0, 0},
      {"red, marker 79 is the top row", 144, 80, 0, false, kPreviewRed, 79, 79},
      {"black, no marker", 144, 80, 0, false, kPreviewBlack, kNoMarkerRow, -1},
      {"marker past the top matches no row", 144, 80, 0, false, kPreviewRed, 80, -1},
      {"padded rows keep their padding", 5, 3, 12, false, kPreviewRed, 1, 1},
      {"top-down buffer: bottom row is the last in memory", 4, 6, 0, true, kPreviewRed, 0, 5},
      {"top-down buffer, marker 4", 4, 6, 8, true, kPreviewRed, 4, 1},
      {"width 0 untouched", 0, 80, 16, false, kPreviewRed, 5, -1},
      {"height 0 untouched", 144, 0, 0, false, kPreviewRed, 5, -1},
      {"negative width untouched", -3, 4, 16, false, kPreviewRed, 1, -1},
      {"negative height untouched", 4, -2, 0, false, kPreviewRed, 1, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int columns = c.width > 0 ? c.width : 0;
    const int rows = c.height > 0 ? c.height : 4;
    const ptrdiff_t stride = columns * 4 + c.padding;
    // One guard row before and after the picture catches writes past either end.
    std::vector<uint8_t> memory(static_cast<size_t>((rows + 2) * stride + 16), kGuard);
    uint8_t* first_row = memory.data() + stride;

    HostBitmap bitmap{};
    bitmap.depth = 32;
    bitmap.width = c.width;
    bitmap.height = c.height;
    bitmap.data = c.top_down ? first_row + (rows - 1) * stride : first_row;
    bitmap.pitch = c.top_down ? -stride : stride;
    FillPreview(bitmap, c.colour, c.marker);

    const bool painted = c.width > 0 && c.height > 0;
    const uint8_t* colour_bytes = c.colour == kPreviewRed ? kRedBytes : kBlackBytes;
    for (size_t i = 0; i < memory.size(); ++i) {
      const ptrdiff_t from_first = static_cast<ptrdiff_t>(i) - stride;
      const ptrdiff_t row = from_first >= 0 ? from_first / stride : -1;
      const ptrdiff_t column_byte = from_first >= 0 ? from_first % stride : -1;
      uint8_t expected = kGuard;
      if (painted && row >= 0 && row < rows && column_byte < columns * 4) {
        expected = (row == c.white_memory_row ? kWhiteBytes : colour_bytes)[column_byte % 4];
      }
      ASSERT_EQ(memory[i], expected) << "byte " << i << " (memory row " << row << ")";
    }
  }
}

}  // namespace
}  // namespace trackloom
