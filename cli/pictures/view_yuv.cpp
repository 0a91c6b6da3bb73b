#include "cli/pictures/view_yuv.h"

#include <cstring>

#include "core/track_format.h"

namespace trackloom::cli {
namespace {

constexpr int kColumns = kPictureWidth;
constexpr int kRows = kPictureHeight;

// BT.601 studio range in 8-bit fixed point. Chroma is made from the sum of four
// pixels' components, so its shift is two bits longer.
uint8_t LumaOf(int r, int g, int b) {
  return static_cast<uint8_t>(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16);
}
uint8_t BlueDifference(int r4, int g4, int b4) {
  return static_cast<uint8_t>(((-38 * r4 - 74 * g4 + 112 * b4 + 512) >> 10) + 128);
}
uint8_t RedDifference(int r4, int g4, int b4) {
  return static_cast<uint8_t>(((112 * r4 - 94 * g4 - 18 * b4 + 512) >> 10) + 128);
}

// The chroma of the 2 x 2 pixels at a, b (one row) and c, d (the next).
void BlockChroma(const uint8_t* a, const uint8_t* b, const uint8_t* c, const uint8_t* d, uint8_t* u,
                 uint8_t* v) {
  const int r = a[0] + b[0] + c[0] + d[0];
  const int g = a[1] + b[1] + c[1] + d[1];
  const int bl = a[2] + b[2] + c[2] + d[2];
  *u = BlueDifference(r, g, bl);
  *v = RedDifference(r, g, bl);
}

}  // namespace

size_t Yuv420Size(int width, int height) {
  const size_t luma = static_cast<size_t>(width) * static_cast<size_t>(height);
  return luma + luma / 2;
}

PixelsViewYuv::PixelsViewYuv(int width, int height)
    : width_(width),
      height_(height),
      luma_(static_cast<size_t>(kColumns) * kRows),
      row_u_(static_cast<size_t>(width / 2) * kRows),
      row_v_(row_u_.size()) {
  // The stored pixel under each output pixel's centre, as RenderView takes it.
  for (int x = 0; x < width; ++x) columns_.push_back((2 * x + 1) * kColumns / (2 * width));
  for (int y = 0; y < height; ++y) rows_.push_back((2 * y + 1) * kRows / (2 * height));
  for (int cx = 0; cx < width / 2; ++cx) {
    repeats_.push_back(cx > 0 && columns_[2 * cx] == columns_[2 * cx - 2] &&
                       columns_[2 * cx + 1] == columns_[2 * cx - 1]);
  }
}

void PixelsViewYuv::Render(const uint8_t* rgb, uint8_t* out) {
  const size_t luma = static_cast<size_t>(width_) * static_cast<size_t>(height_);
  Luma(rgb, out);
  Chroma(rgb, out + luma, out + luma + luma / 4);
}

// Each stored pixel's Y once; an output row showing the same stored row as the one
// above it is a copy of that one.
void PixelsViewYuv::Luma(const uint8_t* rgb, uint8_t* y) {
  uint8_t* stored = luma_.data();
  for (int i = 0; i < kColumns * kRows; ++i) {
    const uint8_t* p = rgb + 3 * i;
    stored[i] = LumaOf(p[0], p[1], p[2]);
  }
  const size_t w = static_cast<size_t>(width_);
  for (int oy = 0; oy < height_; ++oy) {
    uint8_t* line = y + static_cast<size_t>(oy) * w;
    if (oy > 0 && rows_[oy] == rows_[oy - 1]) {
      std::memcpy(line, line - w, w);
      continue;
    }
    const uint8_t* from = stored + rows_[oy] * kColumns;
    for (int ox = 0; ox < width_; ++ox) line[ox] = from[columns_[ox]];
  }
}

// Most chroma rows cover output rows of one stored row: each stored row's chroma is
// made once and copied to them; a row across two stored rows takes the mean of both.
void PixelsViewYuv::Chroma(const uint8_t* rgb, uint8_t* u, uint8_t* v) {
  const size_t w = static_cast<size_t>(width_ / 2);
  for (int r = 0; r < kRows; ++r) {
    const uint8_t* line = rgb + r * kColumns * 3;
    ChromaRow(line, line, &row_u_[r * w], &row_v_[r * w]);
  }
  for (int cy = 0; cy < height_ / 2; ++cy) {
    const int top = rows_[2 * cy], bottom = rows_[2 * cy + 1];
    uint8_t* ul = u + static_cast<size_t>(cy) * w;
    uint8_t* vl = v + static_cast<size_t>(cy) * w;
    if (top == bottom) {
      std::memcpy(ul, &row_u_[top * w], w);
      std::memcpy(vl, &row_v_[top * w], w);
    } else {
      ChromaRow(rgb + top * kColumns * 3, rgb + bottom * kColumns * 3, ul, vl);
    }
  }
}

// A chroma row of the stored rows t and b; a sample over the same two stored columns
// as the one before (each of them, at an even scale) is that one's.
void PixelsViewYuv::ChromaRow(const uint8_t* t, const uint8_t* b, uint8_t* u, uint8_t* v) const {
  for (int cx = 0; cx < width_ / 2; ++cx) {
    if (repeats_[cx]) {
      u[cx] = u[cx - 1];
      v[cx] = v[cx - 1];
      continue;
    }
    const int left = 3 * columns_[2 * cx], right = 3 * columns_[2 * cx + 1];
    BlockChroma(t + left, t + right, b + left, b + right, u + cx, v + cx);
  }
}

}  // namespace trackloom::cli
