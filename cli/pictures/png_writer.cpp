#include "cli/pictures/png_writer.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "cli/common/output_file.h"

namespace trackloom::cli {

bool WriteRgbPng(const std::string& path, int width, int height, const uint8_t* rgb,
                 std::string* error) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  int open_error = 0;
  std::FILE* file = OpenOutputStream(path, &open_error);
  if (file == nullptr) {
    *error = DescribeWriteError(path, open_error);
    return false;
  }
  const int ok = png_image_write_to_stdio(&image, file, 0, rgb, width * 3, nullptr);
  const int write_error = std::ferror(file) ? errno : 0;
  const bool closed = std::fclose(file) == 0;
  if (!ok || !closed) {
    if (write_error != 0 || !closed) {
      *error = DescribeWriteError(path, write_error != 0 ? write_error : errno);
    } else {
      *error = image.message[0] != '\0' ? image.message : "libpng could not write the file";
    }
    png_image_free(&image);
    std::remove(path.c_str());  // no half-written picture is left behind
    return false;
  }
  return true;
}

void ScaleRgb(const uint8_t* rgb, int width, int height, int scale, uint8_t* out) {
  const size_t out_stride = static_cast<size_t>(width) * static_cast<size_t>(scale) * 3;
  for (int y = 0; y < height; ++y) {
    uint8_t* first = out + static_cast<size_t>(y) * static_cast<size_t>(scale) * out_stride;
    const uint8_t* in = rgb + static_cast<size_t>(y) * static_cast<size_t>(width) * 3;
    uint8_t* o = first;
    for (int x = 0; x < width; ++x) {
      for (int s = 0; s < scale; ++s) {
        std::memcpy(o, in + x * 3, 3);
        o += 3;
      }
    }
    for (int s = 1; s < scale; ++s)
      std::memcpy(first + static_cast<size_t>(s) * out_stride, first, out_stride);
  }
}

}  // namespace trackloom::cli
