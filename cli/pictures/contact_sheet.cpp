#include "cli/pictures/contact_sheet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "cli/pictures/png_writer.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr int kMargin = 6;      // around the sheet and between cells
constexpr int kDigitScale = 2;  // the 3 x 5 digits are drawn at twice their size
constexpr int kDigitWidth = 3 * kDigitScale;
constexpr int kDigitGap = kDigitScale;
constexpr int kLabelHeight = 5 * kDigitScale + 6;  // digits with 3 pixels above and below
constexpr uint8_t kBackground = 0x30;
constexpr uint8_t kLabelInk = 0xE0;

// 3 x 5 digits, one row a byte, the leftmost pixel in bit 2.
constexpr uint8_t kDigits[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};

}  // namespace

ContactSheet::ContactSheet(int count, int columns, int cell_width, int cell_height)
    : columns_(std::max(1, std::min(columns, count))),
      cell_width_(cell_width),
      cell_height_(cell_height) {
  const int rows = std::max(1, (count + columns_ - 1) / columns_);
  width_ = kMargin + columns_ * (cell_width_ + kMargin);
  height_ = kMargin + rows * (cell_height_ + kLabelHeight + kMargin);
  pixels_.assign(static_cast<size_t>(width_) * static_cast<size_t>(height_) * 3, kBackground);
}

void ContactSheet::Place(int index, uint64_t record_number, const uint8_t* rgb) {
  const int x = kMargin + (index % columns_) * (cell_width_ + kMargin);
  const int y = kMargin + (index / columns_) * (cell_height_ + kLabelHeight + kMargin);
  for (int row = 0; row < cell_height_; ++row) {
    std::memcpy(&pixels_[(static_cast<size_t>(y + row) * static_cast<size_t>(width_) +
                          static_cast<size_t>(x)) *
                         3],
                rgb + static_cast<size_t>(row) * static_cast<size_t>(cell_width_) * 3,
                static_cast<size_t>(cell_width_) * 3);
  }
  DrawNumber(x, y + cell_height_ + 3, record_number);
}

void ContactSheet::DrawNumber(int x, int y, uint64_t number) {
  char text[24];
  const int length =
      std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(number));
  for (int i = 0; i < length; ++i) {
    const int left = x + i * (kDigitWidth + kDigitGap);
    if (left + kDigitWidth > x + cell_width_) break;  // never into the next cell
    const uint8_t* glyph = kDigits[text[i] - '0'];
    for (int gy = 0; gy < 5 * kDigitScale; ++gy) {
      for (int gx = 0; gx < kDigitWidth; ++gx) {
        if (!(glyph[gy / kDigitScale] & (4 >> (gx / kDigitScale)))) continue;
        uint8_t* p = &pixels_[(static_cast<size_t>(y + gy) * static_cast<size_t>(width_) +
                               static_cast<size_t>(left + gx)) *
                              3];
        p[0] = p[1] = p[2] = kLabelInk;
      }
    }
  }
}

}  // namespace trackloom::cli
