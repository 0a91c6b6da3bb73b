#include "cli/ffmpeg/encoder.h"

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/av_error.h"

namespace trackloom::cli::ffmpeg {

int Encoder::Open(const AVCodec& codec, const std::function<void(AVCodecContext&)>& set_up) {
  context_.reset(avcodec_alloc_context3(&codec));
  if (context_ == nullptr) throw CliError("out of memory");
  packet_ = MakePacket();
  set_up(*context_);
  return avcodec_open2(context_.get(), &codec, nullptr);
}

void Encoder::Send(const AVFrame* frame, const std::function<void(AVPacket&)>& take) {
  int r = avcodec_send_frame(context_.get(), frame);
  while (r >= 0) {
    r = avcodec_receive_packet(context_.get(), packet_.get());
    if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return;
    if (r >= 0) take(*packet_);
  }
  throw CliError(failure_ + ": " + AvErrorText(r));
}

}  // namespace trackloom::cli::ffmpeg
