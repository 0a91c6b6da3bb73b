// Decoded sound: the first audio stream of an input, or a generated source chain
// ("sine=duration=5"), frame by frame, for the conversion and the loudness meter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/decoder.h"
#include "cli/ffmpeg/filter_chain.h"

namespace trackloom::cli::ffmpeg {

class SoundDecoder {
 public:
  // False when the input has no audio stream, or Ctrl-C stopped the opening. Throws
  // CliError when the input cannot be read or its sound cannot be decoded.
  bool Open(const std::string& input, bool generated);
  // After Open() found no audio stream: what the input holds instead.
  const std::string& without_sound() const { return without_sound_; }
  // 0 with the next frame; AVERROR_EOF at the end, or after a read error (the sound so
  // far is kept); AVERROR_EXIT when Ctrl-C stopped it.
  int Next(AVFrame* frame);
  // The stream's timeline, or nullptr for a generated source.
  const AVStream* stream() const { return stream_; }
  // The time base of the frames' timestamps.
  AVRational time_base() const;
  // Packets refused as damaged and frames that could not be decoded: each lost only
  // its own sound.
  int64_t damaged() const { return decoder_.damaged(); }

 private:
  // Feeds the decoder the next packet of the stream, or the end. AVERROR_EXIT on Ctrl-C.
  int ReadPacket();

  InputFormatPtr format_;
  Decoder decoder_;
  PacketPtr packet_;
  const AVStream* stream_ = nullptr;
  std::unique_ptr<FilterChain> generator_;
  std::string without_sound_;
};

}  // namespace trackloom::cli::ffmpeg
