// Pictures written in the format their file name asks for: PNG through libpng, as
// every picture of the command, and JPEG, BMP, TIFF, WebP and PPM through FFmpeg's
// image encoders.
#pragma once

#include <cstdint>
#include <string>

namespace trackloom::cli::ffmpeg {

// The extensions this build writes pictures as, e.g. ".png, .jpg, .jpeg, .bmp".
std::string PictureFileExtensions();

// Whether the extension of path (in any letter case) names one of them.
bool PictureFileNameFits(const std::string& path);

// Writes an 8-bit RGB picture (3 bytes a pixel, rows top first, no padding) in the
// format path names. False, with the reason in *error, when it cannot; nothing is
// left behind then.
bool WriteRgbPicture(const std::string& path, int width, int height, const uint8_t* rgb,
                     std::string* error);

}  // namespace trackloom::cli::ffmpeg
