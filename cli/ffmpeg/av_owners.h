// The owners of FFmpeg's objects: each is a std::unique_ptr whose deleter is the
// library's matching free function, so an object is released exactly once, on every
// path out of the code that made it (an exception included), and no other file of
// the room frees one by hand.
#pragma once

#include <memory>
#include <string>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/frame.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace trackloom::cli::ffmpeg {

namespace av_free {

// An input opened with avformat_open_input.
struct InputFormat {
  void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
// An output made with avformat_alloc_output_context2: its file, if one was opened and
// not yet closed, is closed first.
struct OutputFormat {
  void operator()(AVFormatContext* c) const {
    if (c->pb != nullptr && (c->oformat->flags & AVFMT_NOFILE) == 0) avio_closep(&c->pb);
    avformat_free_context(c);
  }
};
struct CodecContext {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct Frame {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct Packet {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FilterGraph {
  void operator()(AVFilterGraph* g) const { avfilter_graph_free(&g); }
};
struct FilterInOut {
  void operator()(AVFilterInOut* io) const { avfilter_inout_free(&io); }
};
struct Scaler {
  void operator()(SwsContext* s) const { sws_freeContext(s); }
};
struct Resampler {
  void operator()(SwrContext* s) const { swr_free(&s); }
};
struct AudioFifo {
  void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};
struct ChannelLayout {
  void operator()(AVChannelLayout* layout) const {
    av_channel_layout_uninit(layout);
    delete layout;
  }
};

}  // namespace av_free

using InputFormatPtr = std::unique_ptr<AVFormatContext, av_free::InputFormat>;
using OutputFormatPtr = std::unique_ptr<AVFormatContext, av_free::OutputFormat>;
using CodecContextPtr = std::unique_ptr<AVCodecContext, av_free::CodecContext>;
using FramePtr = std::unique_ptr<AVFrame, av_free::Frame>;
using PacketPtr = std::unique_ptr<AVPacket, av_free::Packet>;
using FilterGraphPtr = std::unique_ptr<AVFilterGraph, av_free::FilterGraph>;
using FilterInOutPtr = std::unique_ptr<AVFilterInOut, av_free::FilterInOut>;
using ScalerPtr = std::unique_ptr<SwsContext, av_free::Scaler>;
using ResamplerPtr = std::unique_ptr<SwrContext, av_free::Resampler>;
using AudioFifoPtr = std::unique_ptr<AVAudioFifo, av_free::AudioFifo>;
using ChannelLayoutPtr = std::unique_ptr<AVChannelLayout, av_free::ChannelLayout>;

// Null when out of memory, as the library's own allocators.
inline FramePtr NewFrame() { return FramePtr(av_frame_alloc()); }
inline PacketPtr NewPacket() { return PacketPtr(av_packet_alloc()); }

// The same, for the callers to whom running out of memory is a CliError.
FramePtr MakeFrame();
PacketPtr MakePacket();

// Opens url (a file or an URL FFmpeg reads) into *out, answering Ctrl-C while it
// waits; forced, if not null, skips the probing of the format. 0, or FFmpeg's error,
// with *out empty.
int OpenInputFormat(const std::string& url, const AVInputFormat* forced, InputFormatPtr* out);

}  // namespace trackloom::cli::ffmpeg
