// The pictures and sound every test feeds the filter, the command or the reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trackloom::testing {

// Picture k, 144 x 80, top row first, 0x00RRGGBB: different in every frame and
// without symmetry (a picture delivered upside down, mirrored or from the wrong frame
// gives other bytes), with components running through all 16 quantisation steps.
void PaintPicture(int64_t k, uint32_t* top_down_pixels);
std::vector<uint32_t> Picture(int64_t k);

// count bytes of 8-bit sound that never repeat within a chunk, so a chunk from the
// wrong place is seen.
std::vector<uint8_t> SoundRamp(size_t count);

}  // namespace trackloom::testing
