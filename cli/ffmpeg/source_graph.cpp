#include "cli/ffmpeg/source_graph.h"

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/av_error.h"

extern "C" {
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
}

namespace trackloom::cli {

std::unique_ptr<SourceGraph> SourceGraph::Open(const std::string& description, bool audio) {
  std::unique_ptr<SourceGraph> source(new SourceGraph);
  source->graph_ = avfilter_graph_alloc();
  if (source->graph_ == nullptr) throw CliError("out of memory");
  int r = avfilter_graph_create_filter(&source->sink_,
                                       avfilter_get_by_name(audio ? "abuffersink" : "buffersink"),
                                       "out", nullptr, nullptr, source->graph_);
  AVFilterInOut* inputs = nullptr;
  if (r >= 0) {
    inputs = avfilter_inout_alloc();
    if (inputs == nullptr) throw CliError("out of memory");
    inputs->name = av_strdup("out");
    inputs->filter_ctx = source->sink_;
    AVFilterInOut* outputs = nullptr;  // the chain begins with a source: no open input
    r = avfilter_graph_parse_ptr(source->graph_, description.c_str(), &inputs, &outputs, nullptr);
    avfilter_inout_free(&inputs);
    avfilter_inout_free(&outputs);
  }
  if (r >= 0) r = avfilter_graph_config(source->graph_, nullptr);
  if (r < 0) throw CliError("cannot make '" + description + "': " + AvErrorText(r));
  return source;
}

int ConnectChain(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
                 const std::string& chain) {
  AVFilterInOut* outputs = avfilter_inout_alloc();
  AVFilterInOut* inputs = avfilter_inout_alloc();
  int r = 0;
  if (outputs == nullptr || inputs == nullptr) {
    r = AVERROR(ENOMEM);
  } else {
    outputs->name = av_strdup("in");
    outputs->filter_ctx = source;
    inputs->name = av_strdup("out");
    inputs->filter_ctx = sink;
    r = avfilter_graph_parse_ptr(graph, chain.c_str(), &inputs, &outputs, nullptr);
  }
  avfilter_inout_free(&inputs);
  avfilter_inout_free(&outputs);
  return r >= 0 ? avfilter_graph_config(graph, nullptr) : r;
}

SourceGraph::~SourceGraph() { avfilter_graph_free(&graph_); }

int SourceGraph::Pull(AVFrame* frame) { return av_buffersink_get_frame(sink_, frame); }
AVRational SourceGraph::time_base() const { return av_buffersink_get_time_base(sink_); }
AVRational SourceGraph::frame_rate() const { return av_buffersink_get_frame_rate(sink_); }
int SourceGraph::width() const { return av_buffersink_get_w(sink_); }
int SourceGraph::height() const { return av_buffersink_get_h(sink_); }

}  // namespace trackloom::cli
