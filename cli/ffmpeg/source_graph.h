// Pictures or sound made by FFmpeg's own source filters (testsrc2, sine, ...) instead
// of read from a file: what the demo encodes, so it needs no input of its own.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/rational.h>
}

struct AVFilterGraph;
struct AVFilterContext;

namespace trackloom::cli {

// Joins source to sink through the filter chain description inside graph and
// configures the graph: 0, or FFmpeg's error.
int ConnectChain(AVFilterGraph* graph, AVFilterContext* source, AVFilterContext* sink,
                 const std::string& chain);

class SourceGraph {
 public:
  // description: a filter chain that starts with a source, e.g.
  // "testsrc2=size=320x180:rate=30:duration=12"; audio selects the sink kind.
  // Throws CliError when the description does not make a graph.
  static std::unique_ptr<SourceGraph> Open(const std::string& description, bool audio);
  ~SourceGraph();
  SourceGraph(const SourceGraph&) = delete;
  SourceGraph& operator=(const SourceGraph&) = delete;

  // The next frame, as avcodec_receive_frame gives one: 0, or AVERROR_EOF at the end.
  int Pull(AVFrame* frame);
  AVRational time_base() const;
  AVRational frame_rate() const;
  int width() const;
  int height() const;

 private:
  SourceGraph() = default;
  AVFilterGraph* graph_ = nullptr;
  AVFilterContext* sink_ = nullptr;
};

}  // namespace trackloom::cli
