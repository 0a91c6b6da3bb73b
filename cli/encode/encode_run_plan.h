// What `trackloom encode` settles for a whole run of INPUTs before it writes anything:
// the breaks --break-every adds, the disc time of every input together, and, with
// --disc, whether the image will fit; and the run's total once it is done.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cli/encode/encode.h"
#include "cli/ffmpeg/video_source.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::encode {

// frames (the breaks of BreakFrames) with those of --break-every added, in order and
// each once. Throws BadOptionError when that is more than the filter's list holds.
std::vector<int> WithPeriodicBreaks(const EncodeOptions& o, const ffmpeg::VideoSource& video,
                                    std::vector<int> frames);

// Weighs the disc time of runs (one EncodeOptions an input) together: throws CliError
// (or BadOptionError) when a track would be longer than the disc, the whole far more
// than it holds, or the --disc image would not fit; warns when the whole is
// more than the disc holds. Marks the inputs whose length it knew.
void CheckRunDiscTime(std::vector<EncodeOptions>& runs, const EncodeOptions& o);

// The disc image's options as the encode gives them: its refusals name the encode's
// own options.
DiscOptions EncodeDiscOptions(const EncodeOptions& o, const std::vector<std::string>& tracks);

// "All 3 inputs: 6 tracks, 0:06.0 of video; disc time 0:12 of 80 minutes."
void PrintRunTotal(const EncodeOptions& o, size_t inputs, const std::vector<std::string>& written);

}  // namespace trackloom::cli::encode
