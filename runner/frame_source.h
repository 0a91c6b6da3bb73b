// Where the pictures of a render come from. The editor hands pictures over bottom-up:
// a view's data is the start of the bottom stored row and each step of pitch bytes
// goes one row up. A top-down buffer needs no copy: its last row with a negative pitch.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace trackloom::runner {

struct FrameFormat {
  int32_t width = 144;
  int32_t height = 80;
  int32_t depth = 32;  // bits per pixel
  // Of the output; 55556 is 18 frames per second as the editor rounds it.
  int32_t microseconds_per_frame = 55556;
};

struct FrameView {
  const void* bottom_row = nullptr;
  ptrdiff_t pitch = 0;

  // A buffer stored bottom row first, rows stride bytes apart.
  static FrameView BottomUp(const void* first_stored_row, ptrdiff_t stride) {
    return {first_stored_row, stride};
  }
  // A buffer stored top row first: delivered as its last row with a negative pitch.
  static FrameView TopDown(const void* top_row, ptrdiff_t stride, int32_t height) {
    const auto* bytes = static_cast<const uint8_t*>(top_row);
    return {height > 0 ? bytes + (height - 1) * stride : bytes, -stride};
  }
};

struct Frame {
  FrameView picture;
  int32_t source_frame = 0;  // the frame of the source this picture comes from
};

class FrameSource {
 public:
  virtual ~FrameSource() = default;
  virtual FrameFormat format() const = 0;
  // The next frame, or nothing at the end. The picture stays valid until the next call.
  virtual std::optional<Frame> Next() = 0;
  // How many frames Next() will deliver in all, or -1 when not known in advance.
  virtual int64_t frame_count() const { return -1; }
};

// Frames painted on demand into one reused 32-bit buffer, top row first. The painter
// gets the frame's index and the buffer (width x height pixels, 0x00RRGGBB); the
// source frame numbers default to the indices.
class PaintedFrameSource : public FrameSource {
 public:
  using Painter = std::function<void(int64_t index, uint32_t* top_down_pixels)>;
  using Numbering = std::function<int32_t(int64_t index)>;

  PaintedFrameSource(FrameFormat format, int64_t count, Painter painter,
                     Numbering source_numbers = {});

  // Deliver the buffer as stored (positive pitch, bottom row first in memory) instead
  // of top-down with a negative pitch.
  void set_bottom_up(bool bottom_up) { bottom_up_ = bottom_up; }

  FrameFormat format() const override { return format_; }
  std::optional<Frame> Next() override;
  int64_t frame_count() const override { return count_; }

 private:
  FrameFormat format_;
  int64_t count_;
  int64_t next_ = 0;
  Painter painter_;
  Numbering numbering_;
  bool bottom_up_ = false;
  std::vector<uint32_t> pixels_;
  std::vector<uint32_t> flipped_;
};

}  // namespace trackloom::runner
