// Tracks for the reader's tests, made by the core's own writer and encoder, and the
// pictures and sound that went into them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

#include "tests/support/test_media.h"

namespace trackloom::track_test {

using testing::Picture;
using testing::SoundRamp;

// What a decoder must give back for Picture(k): R, G, B bytes, each component
// quantised to 4 bits ((v + 8) / 17) and shown at the standard tables' level.
std::vector<uint8_t> QuantisedPicture(int64_t k);

// Writes "VDN Track 01.wav" into dir with the core: records pictures 0..records-1,
// each encoded and then written with the next 1960 bytes of samples (when given)
// in its audio slots. Returns the file's path.
std::string WriteCoreTrack(const testing::TempDir& dir, int records, const std::vector<uint8_t>* samples);

}  // namespace trackloom::track_test
