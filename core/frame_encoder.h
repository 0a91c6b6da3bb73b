// Turns one 144 x 80 picture of 32-bit pixels into the frame block: every colour
// component quantised to 4 bits, each picture row spread over two encoded lines,
// nibbles packed two to a byte in groups of nine, each group followed by an audio slot.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/instance_state.h"

namespace trackloom {

// A source picture as the editor stores it: bottom-up, so picture row r (0 = top)
// begins at pixels + (height - 1 - r) * pitch. Pixels hold blue in bits 0-7, green
// in 8-15 and red in 16-23; a negative pitch delivers a top-down buffer.
struct SourcePicture {
  const uint8_t* pixels;
  int32_t height;
  ptrdiff_t pitch;
};

// One byte from two 4-bit values: the earlier nibble in bits 0-3, the later in 4-7.
constexpr uint8_t PackNibblesLowFirst(uint8_t earlier, uint8_t later) {
  return static_cast<uint8_t>((earlier & 0x0F) | (later & 0x0F) << 4);
}

// Entry v = (v + 8) / 17: v / 17 rounded to the nearest integer.
void BuildNibbleTable(InstanceState& state);

// Overwrites the whole frame block from the picture, audio slots (0x80) included.
// Rows the picture lacks (fewer than 80 stored rows, or no pixel data) are encoded
// as black. Allocates nothing.
void EncodeFrame(const SourcePicture& source, InstanceState& state);

}  // namespace trackloom
