// One libavfilter chain, in the three forms the command uses: pictures from a decoder
// to 144 x 80 BGRA, sound from a decoder to 17640 Hz, and a chain that starts with one
// of FFmpeg's own source filters (testsrc2, sine, ...) instead of a decoder, which is
// what the demo encodes, so it needs no input of its own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/ffmpeg/av_owners.h"

namespace trackloom::cli::ffmpeg {

class FilterChain {
 public:
  // Pictures like first, stamped in time_base, of sample aspect ratio sar and nominal
  // rate frame_rate, through chain (FFmpeg's filter syntax). Throws CliError when the
  // chain cannot be set up.
  static std::unique_ptr<FilterChain> ForPictures(const AVFrame& first, AVRational time_base,
                                                  AVRational sar, AVRational frame_rate,
                                                  const std::string& chain);
  // Sound like first, stamped in time_base, through chain.
  static std::unique_ptr<FilterChain> ForSound(const AVFrame& first, AVRational time_base,
                                               const std::string& chain);
  // description starts with a source, e.g. "testsrc2=size=320x180:rate=30:duration=12";
  // audio selects the sink's kind. Throws CliError when it does not make a chain.
  static std::unique_ptr<FilterChain> Generated(const std::string& description, bool audio);

  FilterChain(const FilterChain&) = delete;
  FilterChain& operator=(const FilterChain&) = delete;

  // Takes a frame's reference, leaving it blank; nullptr ends the input where its last
  // frame ends. Throws CliError on failure.
  void Push(AVFrame* frame);
  // Ends the input at pts (in the time base it was set up with).
  void Close(int64_t pts);
  // 0 with a frame, AVERROR(EAGAIN) when more input is needed, AVERROR_EOF at the end.
  int Pull(AVFrame* frame);

  // What the sink gives, for a generated chain.
  AVRational time_base() const;
  AVRational frame_rate() const;
  int width() const;
  int height() const;

 private:
  explicit FilterChain(const char* failure) : failure_(failure) {}
  // Creates the source (none for a generated chain) and the sink, joins them through
  // chain and configures the graph: 0, or FFmpeg's error.
  int Build(const char* source, const std::string& source_args, const char* sink,
            const std::string& chain);

  const char* failure_;  // how a failure to convert begins, e.g. "converting the sound failed"
  FilterGraphPtr graph_;
  AVFilterContext* source_ = nullptr;  // owned by graph_
  AVFilterContext* sink_ = nullptr;
};

}  // namespace trackloom::cli::ffmpeg
