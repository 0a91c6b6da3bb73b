#include "tests/support/test_media.h"

namespace trackloom::testing {

namespace {
// Spelled out here rather than taken from the code under test.
constexpr uint32_t kWidth = 144;
constexpr uint32_t kHeight = 80;
}  // namespace

void PaintPicture(int64_t k, uint32_t* top_down_pixels) {
  const auto f = static_cast<uint32_t>(k);
  for (uint32_t y = 0; y < kHeight; ++y) {
    for (uint32_t x = 0; x < kWidth; ++x) {
      const uint32_t r = (x * 5 + y * 3 + f * 17) & 0xFF;
      const uint32_t g = (x * 11 + (y * y) + f * 3) & 0xFF;
      const uint32_t b = (255 - x - 2 * y + f * 29) & 0xFF;
      top_down_pixels[y * kWidth + x] = (r << 16) | (g << 8) | b;
    }
  }
}

std::vector<uint32_t> Picture(int64_t k) {
  std::vector<uint32_t> pixels(kWidth * kHeight);
  PaintPicture(k, pixels.data());
  return pixels;
}

std::vector<uint8_t> SoundRamp(size_t count) {
  std::vector<uint8_t> samples(count);
  // 1960 bytes make a chunk: each chunk is shifted by 41 more than the last.
  for (size_t i = 0; i < count; ++i) samples[i] = static_cast<uint8_t>(i * 3 + i / 1960 * 41 + i / 256);
  return samples;
}

}  // namespace trackloom::testing
