#include "cli/ffmpeg/decoder.h"

#include "cli/common/cli_error.h"

namespace trackloom::cli::ffmpeg {

int Decoder::Open(const AVStream& stream, const AVCodec& codec, int threads) {
  context_.reset(avcodec_alloc_context3(&codec));
  if (context_ == nullptr) throw CliError("out of memory");
  int r = avcodec_parameters_to_context(context_.get(), stream.codecpar);
  if (r < 0) return r;
  context_->pkt_timebase = stream.time_base;
  if (threads > 0) {
    context_->thread_count = threads;
    context_->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  }
  r = avcodec_open2(context_.get(), &codec, nullptr);
  if (r < 0) context_.reset();
  return r;
}

void Decoder::Send(const AVPacket& packet) {
  if (finished_) return;
  const int r = avcodec_send_packet(context_.get(), &packet);
  if (r == AVERROR(ENOMEM)) throw CliError("out of memory");
  // Every frame is taken out before the next packet goes in, so EAGAIN does not come
  // either: whatever is refused here is the packet's own fault.
  if (r < 0) ++damaged_;
}

void Decoder::Finish() {
  if (finished_) return;
  finished_ = true;
  avcodec_send_packet(context_.get(), nullptr);
}

int Decoder::Receive(AVFrame* frame) {
  const int r = avcodec_receive_frame(context_.get(), frame);
  if (r < 0 && r != AVERROR(EAGAIN) && r != AVERROR_EOF) ++damaged_;
  return r;
}

}  // namespace trackloom::cli::ffmpeg
