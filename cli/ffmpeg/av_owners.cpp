#include "cli/ffmpeg/av_owners.h"

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"

namespace trackloom::cli::ffmpeg {

FramePtr MakeFrame() {
  FramePtr frame = NewFrame();
  if (frame == nullptr) throw CliError("out of memory");
  return frame;
}

PacketPtr MakePacket() {
  PacketPtr packet = NewPacket();
  if (packet == nullptr) throw CliError("out of memory");
  return packet;
}

int OpenInputFormat(const std::string& url, const AVInputFormat* forced, InputFormatPtr* out) {
  out->reset();
  AVFormatContext* format = avformat_alloc_context();
  if (format == nullptr) return AVERROR(ENOMEM);
  format->interrupt_callback.callback = AvInterruptCallback;
  // A failed open frees the context itself and leaves the pointer null.
  const int r = avformat_open_input(&format, url.c_str(), forced, nullptr);
  if (r >= 0) out->reset(format);
  return r;
}

}  // namespace trackloom::cli::ffmpeg
