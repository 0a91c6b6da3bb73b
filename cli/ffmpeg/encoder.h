// One stream's encoder, the counterpart of Decoder: frames in, packets out. Each packet
// is handed on as soon as the codec gives it up, so between frames nothing waits here
// but what the codec itself holds back.
#pragma once

#include <functional>
#include <string>

#include "cli/ffmpeg/av_owners.h"

namespace trackloom::cli::ffmpeg {

class Encoder {
 public:
  // failure begins the message of an encoding that fails, e.g. "encoding the preview
  // failed"; FFmpeg's text follows it.
  explicit Encoder(std::string failure) : failure_(std::move(failure)) {}

  // Opens codec once set_up has put on its context what the stream is to be (size,
  // formats, time base, the codec's own options). 0, or FFmpeg's error. Throws
  // CliError when out of memory.
  int Open(const AVCodec& codec, const std::function<void(AVCodecContext&)>& set_up);
  // What the codec was opened with, and what it settled on (frame size, formats).
  const AVCodecContext& context() const { return *context_; }

  // Sends frame (null: the stream is over, and the codec gives up all it held back)
  // and hands take each packet then ready, in order; take may keep its reference.
  // Throws CliError when the codec fails, and whatever take throws.
  void Send(const AVFrame* frame, const std::function<void(AVPacket&)>& take);

 private:
  std::string failure_;
  CodecContextPtr context_;
  PacketPtr packet_;
};

}  // namespace trackloom::cli::ffmpeg
