#include "cli/ffmpeg/filter_chain.h"

#include <cstdio>

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_versions.h"

extern "C" {
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
}

namespace trackloom::cli::ffmpeg {
namespace {

// One open end of a chain's text, name, attached to filter's pad 0; null when out of
// memory.
FilterInOutPtr Pad(const char* name, AVFilterContext* filter) {
  FilterInOutPtr pad(avfilter_inout_alloc());
  if (pad == nullptr) return nullptr;
  pad->name = av_strdup(name);
  pad->filter_ctx = filter;
  return pad->name != nullptr ? std::move(pad) : nullptr;
}

}  // namespace

int FilterChain::Build(const char* source, const std::string& source_args, const char* sink,
                       const std::string& chain) {
  graph_.reset(avfilter_graph_alloc());
  if (graph_ == nullptr) return AVERROR(ENOMEM);
  int r = 0;
  if (source != nullptr) {
    r = avfilter_graph_create_filter(&source_, avfilter_get_by_name(source), "in",
                                     source_args.c_str(), nullptr, graph_.get());
  }
  if (r >= 0) {
    r = avfilter_graph_create_filter(&sink_, avfilter_get_by_name(sink), "out", nullptr, nullptr,
                                     graph_.get());
  }
  if (r < 0) return r;
  FilterInOutPtr inputs = Pad("out", sink_);
  // A generated chain begins with a source: it has no open input.
  FilterInOutPtr outputs = source_ != nullptr ? Pad("in", source_) : nullptr;
  if (inputs == nullptr || (source_ != nullptr && outputs == nullptr)) return AVERROR(ENOMEM);
  AVFilterInOut* in = inputs.release();
  AVFilterInOut* out = outputs.release();
  // Parsing joins what it can and hands back the rest; both come back to their owners.
  r = avfilter_graph_parse_ptr(graph_.get(), chain.c_str(), &in, &out, nullptr);
  inputs.reset(in);
  outputs.reset(out);
  return r >= 0 ? avfilter_graph_config(graph_.get(), nullptr) : r;
}

std::unique_ptr<FilterChain> FilterChain::ForPictures(const AVFrame& first, AVRational time_base,
                                                      AVRational sar, AVRational frame_rate,
                                                      const std::string& chain) {
  std::unique_ptr<FilterChain> made(new FilterChain("converting a picture failed"));
  char args[512];
  std::snprintf(args, sizeof args,
                "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d:frame_rate=%d/%d",
                first.width, first.height, first.format, time_base.num, time_base.den, sar.num,
                sar.den, frame_rate.num, frame_rate.den);
  const int r = made->Build("buffer", args, "buffersink", chain);
  if (r < 0) throw CliError("cannot set up the picture conversion: " + AvErrorText(r));
  return made;
}

std::unique_ptr<FilterChain> FilterChain::ForSound(const AVFrame& first, AVRational time_base,
                                                   const std::string& chain) {
  std::unique_ptr<FilterChain> made(new FilterChain("converting the sound failed"));
  char args[512];
  std::snprintf(args, sizeof args, "time_base=%d/%d:sample_rate=%d:sample_fmt=%s:channel_layout=%s",
                time_base.num, time_base.den, first.sample_rate,
                av_get_sample_fmt_name(static_cast<AVSampleFormat>(first.format)),
                ChannelLayoutName(first).c_str());
  const int r = made->Build("abuffer", args, "abuffersink", chain);
  if (r < 0) throw CliError("cannot set up the sound conversion: " + AvErrorText(r));
  return made;
}

std::unique_ptr<FilterChain> FilterChain::Generated(const std::string& description, bool audio) {
  std::unique_ptr<FilterChain> made(
      new FilterChain(audio ? "converting the sound failed" : "converting a picture failed"));
  const int r = made->Build(nullptr, "", audio ? "abuffersink" : "buffersink", description);
  if (r < 0) throw CliError("cannot make '" + description + "': " + AvErrorText(r));
  return made;
}

void FilterChain::Push(AVFrame* frame) {
  const int r = av_buffersrc_add_frame_flags(source_, frame, 0);
  if (r < 0) throw CliError(std::string(failure_) + ": " + AvErrorText(r));
}

void FilterChain::Close(int64_t pts) {
  const int r = av_buffersrc_close(source_, pts, AV_BUFFERSRC_FLAG_PUSH);
  if (r < 0) throw CliError(std::string(failure_) + ": " + AvErrorText(r));
}

int FilterChain::Pull(AVFrame* frame) { return av_buffersink_get_frame(sink_, frame); }

AVRational FilterChain::time_base() const { return av_buffersink_get_time_base(sink_); }
AVRational FilterChain::frame_rate() const { return av_buffersink_get_frame_rate(sink_); }
int FilterChain::width() const { return av_buffersink_get_w(sink_); }
int FilterChain::height() const { return av_buffersink_get_h(sink_); }

}  // namespace trackloom::cli::ffmpeg
