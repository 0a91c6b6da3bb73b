// PNG output through libpng, for pictures people would rather look at than read.
#pragma once

#include <cstdint>
#include <string>

namespace trackloom::cli {

// Writes an 8-bit RGB picture (3 bytes a pixel, rows top first, no padding). False,
// with the reason in *error, when the file cannot be written.
bool WriteRgbPng(const std::string& path, int width, int height, const uint8_t* rgb,
                 std::string* error);

// Nearest-neighbour enlargement of an RGB picture by a whole factor into out, which
// holds (width x scale) x (height x scale) x 3 bytes.
void ScaleRgb(const uint8_t* rgb, int width, int height, int scale, uint8_t* out);

}  // namespace trackloom::cli
