// Tracks for the reader's tests, made by the core's own writer and encoder, and the
// pictures and sound that went into them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace trackloom::track_test {

// Picture k, top row first, 0x00RRGGBB: different in every frame and without
// symmetry, with components running through all 16 quantisation steps.
std::vector<uint32_t> Picture(int64_t k);
// What a decoder must give back for Picture(k): R, G, B bytes, each component
// quantised to 4 bits ((v + 8) / 17) and scaled back by 17.
std::vector<uint8_t> QuantisedPicture(int64_t k);
// count bytes of 8-bit sound that never repeat within a chunk.
std::vector<uint8_t> SoundRamp(size_t count);

// Writes "VDN Track 01.wav" into dir with the core: records pictures 0..records-1,
// each encoded and then written with the next 1960 bytes of samples (when given)
// in its audio slots. Returns the file's path.
std::string WriteCoreTrack(const testing::TempDir& dir, int records, const std::vector<uint8_t>* samples);

}  // namespace trackloom::track_test
