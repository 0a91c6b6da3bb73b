// The picture as the player's panel shows it. The panel is a grid of 216 x 160
// single-colour dots, 4-bit each: even dot rows run R G B R G B ..., odd rows
// G B R G B R ..., so a 144 x 80 picture pixel is one red, one green and one blue dot
// over two dot rows, in the order the frame block carries its components.
//
//   dot row 2r   : R(c0) G(c1) B(c1) R(c2) G(c3) B(c3) ...
//   dot row 2r+1 : G(c0) B(c0) R(c1) G(c2) B(c2) R(c3) ...
//
// Odd dot rows sit half a dot to the left of even ones, so each pixel's three dots
// form a small triangle and the pixels are evenly 1.5 dots apart.
//
// The whole screen shows about 4:3 (the dot grid itself is 1.35:1).
#pragma once

#include <cstdint>

namespace trackloom::cli {

// The player shows its 144 x 80 pictures on a screen of about 4:3, not 9:5: the panel's
// 216 x 160 dots are close to square, and retail discs squeeze 4:3 animation into the
// whole 144 x 80. A stored pixel is therefore taller than wide, (4/3) / (144/80) =
// 20:27, and pictures are shaped for and shown at 4:3, not for square pixels.
inline constexpr int kDisplayShapeWidth = 4;
inline constexpr int kDisplayShapeHeight = 3;

inline constexpr int kPanelWidth = 216;   // dots a row: 144 pixels x 3 components / 2 rows
inline constexpr int kPanelHeight = 160;  // two dot rows a picture row
inline constexpr int kPanelImageSize = kPanelWidth * kPanelHeight * 3;

// Renders a record picture (144 x 80, 3 bytes R, G, B a pixel, top row first, as
// DecodeFramePicture gives it: every component at the value its level shows as) into
// the panel's dot grid: 216 x 160 RGB pixels, one a dot, each lit only in its own
// colour at its component's value.
void RenderPanel(const uint8_t* rgb, uint8_t* panel);

struct PictureRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

// The panel at the 4:3 display shape, scale times the dot grid's width: 216 x 162
// at scale 1 (the 160 dot rows stretched a little to 4:3).
PictureRect PanelDisplaySize(int scale);

// The largest 4:3 rectangle centred in an area of width x height (a window, a
// full screen), for the panel with bands at the sides or above and below.
PictureRect FitDisplayShape(int width, int height);

// Nearest-neighbour scaling of the dot grid to width x height RGB pixels (out holds
// width x height x 3 bytes); every output pixel takes the dot under its centre, odd
// dot rows shifted half a dot to the left (black where a row has no dot).
void ScalePanel(const uint8_t* panel, int width, int height, uint8_t* out);

// How a decoded record is looked at: its stored pixels, or the panel's dots.
enum class View {
  kPixels,
  kPanel,
};

// The size of a record shown at the 4:3 display shape: 144 x 108 stored pixels
// stretched upright, or the dot grid at 432 x 324 (two screen pixels a dot, so the
// half-dot offset of odd rows shows), both times scale.
PictureRect ViewDisplaySize(View view, int scale);

// A record picture (144 x 80 RGB, top row first) as the view shows it on the 4:3
// screen, into out: width x height x 3 bytes.
void RenderView(View view, const uint8_t* rgb, int width, int height, uint8_t* out);

}  // namespace trackloom::cli
