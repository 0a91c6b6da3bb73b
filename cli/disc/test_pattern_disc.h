// `trackloom disc --test-pattern`: a disc of short test tracks that show what a player,
// a blank or a burner gets wrong (colour levels, dropped frames, sync, channels, pixel
// shape, track lengths), made through the same encode as any video.
#pragma once

#include "cli/common/reporter.h"
#include "cli/encode/encode.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::disc {

// The DejaVu font the cards are lettered in (Debian's fonts-dejavu-core).
inline constexpr char kPatternFont[] = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

// Encodes the test tracks into NAME-tracks/ beside the image NAME, for MakeDisc to put
// on the disc; as Encode, the exit status (its reason said through report) and the
// tracks. Throws CliError when the font is missing or NAME-tracks/ is not empty.
encode::EncodeResult EncodeTestTracks(const DiscOptions& options, const Reporter& report);

}  // namespace trackloom::cli::disc
