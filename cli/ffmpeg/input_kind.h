// What an input FFmpeg opened holds, where that is not what the command asked for:
// a text file (FFmpeg's tty, ANSI-art and binary-text readers draw its characters as
// pictures), subtitles alone, a still picture, pictures without sound.
#pragma once

#include <string>

struct AVFormatContext;

namespace trackloom::cli::ffmpeg {

// The URL FFmpeg opens for an input as the user names it: "-" is standard input.
std::string InputUrl(const std::string& input);

// True when every picture the input gives is text drawn by FFmpeg, not video.
bool HoldsOnlyText(const AVFormatContext& format);
// True when the input's streams are all subtitles.
bool HoldsOnlySubtitles(const AVFormatContext& format);

// For an input without sound: what it holds instead, as "it is text", "it holds a
// still picture", "it holds only video", "it holds only subtitles" or "it holds no
// stream FFmpeg can play".
std::string DescribeWithoutSound(const AVFormatContext& format);

}  // namespace trackloom::cli::ffmpeg
