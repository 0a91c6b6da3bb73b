#include "runner/frame_source.h"

#include <algorithm>
#include <utility>

namespace trackloom::runner {

namespace {
size_t PixelCount(const FrameFormat& format) {
  return static_cast<size_t>(std::max(format.width, 0)) *
         static_cast<size_t>(std::max(format.height, 0));
}
}  // namespace

PaintedFrameSource::PaintedFrameSource(FrameFormat format, int64_t count, Painter painter,
                                       Numbering source_numbers)
    : format_(format),
      count_(count),
      painter_(std::move(painter)),
      numbering_(std::move(source_numbers)),
      // One spare pixel keeps the buffer addressable for empty pictures.
      pixels_(PixelCount(format) + 1, 0) {}

std::optional<Frame> PaintedFrameSource::Next() {
  if (next_ >= count_) return std::nullopt;
  const int64_t index = next_++;
  std::fill(pixels_.begin(), pixels_.end(), 0u);
  if (painter_) painter_(index, pixels_.data());
  const auto stride = static_cast<ptrdiff_t>(std::max(format_.width, 0)) * 4;
  Frame frame;
  frame.source_frame = numbering_ ? numbering_(index) : static_cast<int32_t>(index);
  if (!bottom_up_) {
    frame.picture = FrameView::TopDown(pixels_.data(), stride, format_.height);
    return frame;
  }
  // Store the rows bottom row first, as the editor's own buffers are.
  flipped_.assign(pixels_.size(), 0u);
  const auto width = static_cast<size_t>(std::max(format_.width, 0));
  const auto height = static_cast<size_t>(std::max(format_.height, 0));
  for (size_t row = 0; row < height; ++row) {
    std::copy_n(pixels_.begin() + static_cast<ptrdiff_t>(row * width), width,
                flipped_.begin() + static_cast<ptrdiff_t>((height - 1 - row) * width));
  }
  frame.picture = FrameView::BottomUp(flipped_.data(), stride);
  return frame;
}

}  // namespace trackloom::runner
