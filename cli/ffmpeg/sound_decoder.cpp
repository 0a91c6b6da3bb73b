#include "cli/ffmpeg/sound_decoder.h"

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/input_kind.h"

namespace trackloom::cli::ffmpeg {
namespace {

int FirstAudio(const AVFormatContext& format) {
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    if (format.streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

bool SoundDecoder::Open(const std::string& input, bool generated) {
  if (generated) {
    generator_ = FilterChain::Generated(input, true);
    return true;
  }
  int r = OpenInputFormat(InputUrl(input), nullptr, &format_);
  if (r < 0) {
    if (StopRequested()) return false;
    throw CliError("cannot read '" + input + "': " + AvErrorText(r));
  }
  int index = FirstAudio(*format_);
  // Probing decodes pictures too; when the header already names the sound's codec
  // and format it is skipped (the chain is set up from the first decoded frame).
  const AVCodecParameters* declared = index >= 0 ? format_->streams[index]->codecpar : nullptr;
  if (declared == nullptr || declared->codec_id == AV_CODEC_ID_NONE || declared->sample_rate <= 0 ||
      declared->ch_layout.nb_channels <= 0) {
    r = avformat_find_stream_info(format_.get(), nullptr);
    if (r < 0) throw CliError("cannot read '" + input + "': " + AvErrorText(r));
    index = FirstAudio(*format_);
  }
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    // Everything else is skipped by the demuxer where it can.
    if (static_cast<int>(i) != index) format_->streams[i]->discard = AVDISCARD_ALL;
  }
  if (index < 0) {
    without_sound_ = DescribeWithoutSound(*format_);
    return false;
  }
  stream_ = format_->streams[index];
  const AVCodec* codec = avcodec_find_decoder(stream_->codecpar->codec_id);
  if (codec == nullptr)
    throw CliError("'" + input + "': no decoder for its sound; --no-audio makes silent tracks");
  r = decoder_.Open(*stream_, *codec);
  if (r < 0) {
    throw CliError("cannot decode the sound of '" + input + "': " + AvErrorText(r) +
                   "; --no-audio makes silent tracks");
  }
  packet_ = MakePacket();
  return true;
}

AVRational SoundDecoder::time_base() const {
  return stream_ != nullptr ? stream_->time_base : generator_->time_base();
}

int SoundDecoder::ReadPacket() {
  for (;;) {
    if (StopRequested()) return AVERROR_EXIT;
    const int r = av_read_frame(format_.get(), packet_.get());
    if (r < 0) {
      if (StopRequested()) return AVERROR_EXIT;
      // The end, or a read error after which the sound so far is kept.
      decoder_.Finish();
      return 0;
    }
    const bool ours = packet_->stream_index == stream_->index;
    if (ours) decoder_.Send(*packet_);
    av_packet_unref(packet_.get());
    if (ours) return 0;
  }
}

int SoundDecoder::Next(AVFrame* frame) {
  if (generator_ != nullptr) return StopRequested() ? AVERROR_EXIT : generator_->Pull(frame);
  for (;;) {
    const int r = decoder_.Receive(frame);
    if (r == 0 || r == AVERROR_EOF) return r;
    // Any other failure is a damaged packet: skipped, and the decoder resynchronises
    // on the next one. After the end, whatever was left is given up.
    if (decoder_.finished()) return AVERROR_EOF;
    const int read = ReadPacket();
    if (read == AVERROR_EXIT) return read;
  }
}

}  // namespace trackloom::cli::ffmpeg
