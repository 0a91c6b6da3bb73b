// The pixels view of a record picture made straight into the 4:2:0 picture a video
// encoder takes (BT.601 studio range, what players assume for pictures this size):
// the Y plane (width x height) followed by the U and the V plane (width/2 x height/2
// each). The stored pixels are turned into YUV at their own size and the planes
// stretched as RenderView stretches the pixels, so a picture is scaled once and
// converted for a fraction of its pixels; each chroma sample is the mean of the four
// pixels it covers.
//
//   PixelsViewYuv yuv(576, 432);
//   std::vector<uint8_t> out(Yuv420Size(576, 432));
//   yuv.Render(rgb, out.data());  // rgb: 144 x 80, as DecodeFramePicture gives it
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace trackloom::cli {

size_t Yuv420Size(int width, int height);

class PixelsViewYuv {
 public:
  // width and height even, as ViewDisplaySize gives them.
  PixelsViewYuv(int width, int height);
  void Render(const uint8_t* rgb, uint8_t* out);

 private:
  void Luma(const uint8_t* rgb, uint8_t* y);
  void Chroma(const uint8_t* rgb, uint8_t* u, uint8_t* v);
  void ChromaRow(const uint8_t* t, const uint8_t* b, uint8_t* u, uint8_t* v) const;

  int width_, height_;
  std::vector<int> columns_;            // the stored column each output column shows
  std::vector<int> rows_;               // the stored row each output row shows
  std::vector<uint8_t> repeats_;        // a chroma column over the one before's pixels
  std::vector<uint8_t> luma_;           // Y of each stored pixel
  std::vector<uint8_t> row_u_, row_v_;  // the chroma of each stored row
};

}  // namespace trackloom::cli
