// The few places where FFmpeg's interface differs between the releases the command
// builds against (5.1 as Debian 12 has it, 7.1 as Debian 13 has it): each answers the
// same question on both, through the interface that release offers without
// deprecation warnings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace trackloom::cli::ffmpeg {

// How long the decoded frame lasts, in its stream's time base; 0 when not known.
int64_t FrameDuration(const AVFrame& frame);

// The display matrix (nine 16.16 and 2.30 numbers) the stream's header gives, or null.
const int32_t* StreamDisplayMatrix(const AVStream& stream);

// The sample rates and sample formats the encoder takes; empty when it takes any.
std::vector<int> SupportedSampleRates(const AVCodec& codec);
std::vector<AVSampleFormat> SupportedSampleFormats(const AVCodec& codec);

// The channel layout of decoded sound as the abuffer filter reads it ("stereo",
// "5.1(side)"). Sound that declares no order of its channels (or none at all) is
// taken in FFmpeg's usual order for their count, so every channel is mixed in.
std::string ChannelLayoutName(const AVFrame& frame);

}  // namespace trackloom::cli::ffmpeg
