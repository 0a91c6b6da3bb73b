// `trackloom disc --test-pattern`: a disc of short test tracks that show what a player,
// a blank or a burner gets wrong (colour levels, dropped frames, sync, channels, pixel
// shape, track lengths), made through the same encode as any video.
#pragma once

#include <cstdio>

#include "cli/tracks/disc_plan.h"

namespace trackloom::cli {

// The DejaVu font the cards are lettered in (Debian's fonts-dejavu-core).
inline constexpr char kPatternFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Encodes the test tracks into NAME-tracks/ beside the image, then writes the disc of
// them as MakeDisc does; the exit status.
int MakeTestPatternDisc(DiscOptions options, std::FILE* out, std::FILE* err);

}  // namespace trackloom::cli
