// One stream's decoder, for pictures and sound alike: packets in, frames out. A
// packet the decoder refuses as damaged is skipped, as players do (the decoder
// resynchronises on the next one), and counted, so the command can say how much of
// the input was lost rather than pass over it in silence.
#pragma once

#include <cstdint>

#include "cli/ffmpeg/av_owners.h"

namespace trackloom::cli::ffmpeg {

class Decoder {
 public:
  // Opens codec for stream's packets with threads threads (0: as FFmpeg picks).
  // 0, or FFmpeg's error. Throws CliError when out of memory.
  int Open(const AVStream& stream, const AVCodec& codec, int threads = 0);

  // Sends one packet of the stream; a packet refused is counted and dropped. Throws
  // CliError when out of memory.
  void Send(const AVPacket& packet);
  // Tells the decoder the stream is over, so that it gives up the frames it holds.
  void Finish();
  bool finished() const { return finished_; }

  // As avcodec_receive_frame: 0 with a frame, AVERROR(EAGAIN) when it needs another
  // packet, AVERROR_EOF once everything sent came out, any other error for a frame
  // that could not be decoded (counted as damage too).
  int Receive(AVFrame* frame);

  // Packets refused and frames that could not be decoded so far.
  int64_t damaged() const { return damaged_; }

 private:
  CodecContextPtr context_;
  bool finished_ = false;
  int64_t damaged_ = 0;
};

}  // namespace trackloom::cli::ffmpeg
