// Opening an input for its pictures: the container, the video stream chosen in it
// (every other stream is discarded by the demuxer), and what the container tells of
// that stream before a picture is decoded.
#pragma once

#include <string>

#include "cli/ffmpeg/av_owners.h"

namespace trackloom::cli::ffmpeg {

struct VideoInput {
  InputFormatPtr format;
  AVStream* stream = nullptr;  // owned by format
  const AVCodec* codec = nullptr;
  bool one_picture = false;  // the stream was found to hold a single picture
  std::string stream_summary;
};

// Opens input (a file or URL FFmpeg reads, "-" for standard input) and picks its video
// stream: video_stream, the number as ffprobe lists it, or, when -1, the one the
// chooser prefers. Throws CliError with a one-line reason when the input cannot be
// read or has no video to decode.
VideoInput OpenVideoInput(const std::string& input, int video_stream);

// A photo or a cover rather than a film.
bool IsStill(const AVFormatContext& format, const AVStream& stream, bool one_picture);

// How many threads decode pictures of width x height.
int DecodingThreads(int width, int height);

}  // namespace trackloom::cli::ffmpeg
