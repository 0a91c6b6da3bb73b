#include "cli/ffmpeg/video_source.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/hdr_conversion.h"
#include "cli/ffmpeg/input_kind.h"
#include "cli/ffmpeg/source_graph.h"
#include "cli/ffmpeg/unreferenced_pictures.h"
#include "cli/ffmpeg/video_stream_choice.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavfilter/avfilter.h>
#include <libavfilter/buffersink.h>
#include <libavfilter/buffersrc.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace trackloom::cli {

bool ParseFit(const std::string& text, Fit& fit) {
  if (text == "letterbox") {
    fit = Fit::kLetterbox;
  } else if (text == "crop") {
    fit = Fit::kCrop;
  } else if (text == "stretch") {
    fit = Fit::kStretch;
  } else {
    return false;
  }
  return true;
}

FitGeometry ComputeFitGeometry(Fit fit, int width, int height, int sar_num, int sar_den) {
  FitGeometry g{kPictureWidth, kPictureHeight, 0, 0};
  if (fit == Fit::kStretch || width <= 0 || height <= 0) return g;
  if (sar_num <= 0 || sar_den <= 0) sar_num = sar_den = 1;
  // Shapes are compared as exact cross products, so a 4:3 picture is neither padded
  // nor cropped by a rounding accident.
  const int64_t display_w = int64_t{width} * sar_num;
  const int64_t display_h = int64_t{height} * sar_den;
  const bool wider = display_w * kDisplayShapeHeight > display_h * kDisplayShapeWidth;
  const bool taller = display_w * kDisplayShapeHeight < display_h * kDisplayShapeWidth;
  auto scaled = [](int64_t num, int64_t den) {
    return static_cast<int>(std::max<int64_t>(1, (2 * num + den) / (2 * den)));
  };
  // The full 144 stored columns show 4 units wide and the 80 rows 3 units high.
  const int height_for_width = scaled(int64_t{kPictureHeight} * kDisplayShapeWidth * display_h,
                                      int64_t{kDisplayShapeHeight} * display_w);
  const int width_for_height = scaled(int64_t{kPictureWidth} * kDisplayShapeHeight * display_w,
                                      int64_t{kDisplayShapeWidth} * display_h);
  if (fit == Fit::kLetterbox && wider) {
    g.scaled_height = std::min(height_for_width, kPictureHeight);
  } else if (fit == Fit::kLetterbox && taller) {
    g.scaled_width = std::min(width_for_height, kPictureWidth);
  } else if (fit == Fit::kCrop && wider) {
    g.scaled_width = std::max(width_for_height, kPictureWidth);
  } else if (fit == Fit::kCrop && taller) {
    g.scaled_height = std::max(height_for_width, kPictureHeight);
  }
  g.offset_x = std::abs(kPictureWidth - g.scaled_width) / 2;
  g.offset_y = std::abs(kPictureHeight - g.scaled_height) / 2;
  return g;
}

std::string BuildFilterChain(Fit fit, int width, int height, int sar_num, int sar_den,
                             Orientation orientation, const std::string& to_bgra) {
  const bool sideways = orientation.quarter_turns % 2 == 1;
  // The sample aspect ratio belongs to the stored picture: turned, its inverse.
  const FitGeometry g = sideways ? ComputeFitGeometry(fit, height, width, sar_den, sar_num)
                                 : ComputeFitGeometry(fit, width, height, sar_num, sar_den);
  // fps first, so frames that are dropped are never scaled; start_time=0 makes the
  // first output frame the one at the video's start, whatever its timestamp. The
  // picture is turned after scaling, where it is smallest.
  std::string chain =
      "fps=" + std::to_string(kFramesPerSecond) +
      ":start_time=0,scale=" + std::to_string(sideways ? g.scaled_height : g.scaled_width) + ":" +
      std::to_string(sideways ? g.scaled_width : g.scaled_height) + ":flags=area," + to_bgra;
  chain += OrientationFilters(orientation);
  const bool resized = g.scaled_width != kPictureWidth || g.scaled_height != kPictureHeight;
  const std::string place = std::to_string(kPictureWidth) + ":" + std::to_string(kPictureHeight) +
                            ":" + std::to_string(g.offset_x) + ":" + std::to_string(g.offset_y);
  if (resized && fit == Fit::kLetterbox) {
    chain += ",pad=" + place + ":black";
  } else if (resized && fit == Fit::kCrop) {
    chain += ",crop=" + place;
  }
  return chain + ",setsar=1";
}

namespace {

// "16:9", "4:3", "2.39:1", "9:16": the usual name of a display shape.
std::string ShapeName(double ratio) {
  static const struct {
    int w, h;
  } kNamed[] = {{1, 1}, {5, 4}, {4, 3}, {3, 2}, {16, 10}, {5, 3}, {16, 9}, {2, 1}, {21, 9}};
  for (const auto& n : kNamed) {
    for (int flip = 0; flip < 2; ++flip) {
      const int w = flip ? n.h : n.w;
      const int h = flip ? n.w : n.h;
      if (std::fabs(ratio / (double{1} * w / h) - 1) < 0.01)
        return std::to_string(w) + ":" + std::to_string(h);
    }
  }
  char text[32];
  if (ratio >= 1) {
    std::snprintf(text, sizeof text, "%.2f:1", ratio);
  } else {
    std::snprintf(text, sizeof text, "1:%.2f", 1 / ratio);
  }
  return text;
}

}  // namespace

std::string DescribeShaping(Fit fit, int width, int height, int sar_num, int sar_den,
                            Orientation orientation) {
  if (sar_num <= 0 || sar_den <= 0) sar_num = sar_den = 1;
  const bool sideways = orientation.quarter_turns % 2 == 1;
  const double ratio = sideways ? double{1} * height * sar_den / (double{1} * width * sar_num)
                                : double{1} * width * sar_num / (double{1} * height * sar_den);
  const std::string text = ShapeName(ratio) + " picture" + DescribeOrientation(orientation);
  const FitGeometry g = sideways ? ComputeFitGeometry(fit, height, width, sar_den, sar_num)
                                 : ComputeFitGeometry(fit, width, height, sar_num, sar_den);
  const bool same = g.scaled_width == kPictureWidth && g.scaled_height == kPictureHeight;
  if (fit == Fit::kStretch) return text + " stretched to 144 x 80";
  if (same) return text + " fills the 4:3 screen";
  if (fit == Fit::kCrop) return text + " cropped to fill the 4:3 screen";
  return text + " letterboxed into the 4:3 screen";
}

struct VideoSource::Impl {
  AVFormatContext* format = nullptr;
  AVCodecContext* decoder = nullptr;
  AVFilterGraph* graph = nullptr;
  AVFilterContext* buffer_source = nullptr;
  AVFilterContext* buffer_sink = nullptr;
  AVPacket* packet = nullptr;
  AVFrame* decoded = nullptr;
  AVFrame* filtered = nullptr;
  int stream_index = -1;
  bool one_picture = false;                // the stream was found to hold a single picture
  std::unique_ptr<SourceGraph> generator;  // instead of format and decoder
  PictureOptions options;
  Orientation orientation;    // as the stream's display matrix asks
  ColourSource colour;        // what its colours need to become SDR's
  bool reduce_levels = true;  // false for a picture taken as made for the player
  std::string picture_summary;
  std::string stream_summary;
  AVRational time_base{0, 1};
  AVRational frame_rate{0, 1};
  AVRational stream_sar{0, 1};
  int width = 0;
  int height = 0;
  std::string chain;
  int64_t zero_pts = AV_NOPTS_VALUE;
  int64_t next_pts = AV_NOPTS_VALUE;
  // The graph counts in graph_time_base: the stream's own, or a finer one when a tick
  // of the stream is longer than an output frame, so that a cut gap can end anywhere.
  AVRational graph_time_base{0, 1};
  int64_t last_out_pts = AV_NOPTS_VALUE;  // the previous picture, in graph_time_base
  int64_t last_ts = AV_NOPTS_VALUE;       // the same, in the stream's time base
  // Where the last cut gap ended, on both timelines: from there the graph's time
  // follows the stream's again.
  int64_t anchor_ts = AV_NOPTS_VALUE;
  int64_t anchor_out_pts = 0;
  double sound_seconds = 0;
  GapReport gaps;
  bool demuxer_done = false;
  bool decoder_done = false;
  std::string read_error;
  // Leaving out pictures the fps cut drops and nothing references.
  bool may_leave_out = false;
  std::unique_ptr<UnreferencedPictures> unreferenced;
  AVPacket* waiting = nullptr;  // the packet read last, not yet sent
  bool waiting_nothing_references = false;
  // The presentation times of the last packets read, in decode order: a picture's
  // successor on screen is among them once its references were read.
  static constexpr int kRecentPackets = 32;
  int64_t recent_pts[kRecentPackets];
  int recent_count = 0;
  int recent_next = 0;
  // A still: its one picture, converted once, is handed out again and again, so a
  // song's length of it costs one conversion and one frame of memory.
  bool still = false;
  int64_t still_pictures = 0;  // how many: the sound's length at 18 fps
  int64_t still_given = 0;

  ~Impl() {
    av_frame_free(&filtered);
    av_frame_free(&decoded);
    av_packet_free(&waiting);
    av_packet_free(&packet);
    avfilter_graph_free(&graph);
    avcodec_free_context(&decoder);
    avformat_close_input(&format);
  }

  // The chain, whether levels are reduced here, and the summary line, for pictures
  // of width x height at sar, shown as orientation asks, in colour.
  void PlanPictures(AVRational sar);
  // Sets the graph up for the pictures the decoder actually delivers.
  void ConfigureGraph(const AVFrame& first);
  // Opens the input and picks its video stream (the other streams are discarded);
  // the stream, with its decoder in *codec.
  AVStream* OpenInput(const std::string& input, const AVCodec** codec);
  // Takes the stream's picture size, shape, turn and rate, and plans the pictures.
  void TakeStreamShape(AVStream* stream);
  // Opens the decoder and the packet and frame buffers.
  void OpenDecoder(const AVStream* stream, const AVCodec* codec, const std::string& input);
  // The graph timestamp of a picture shown from ts on; a gap since the previous one
  // that would hold a picture far longer than the input plays is cut first.
  int64_t PlacePicture(int64_t ts);
  // How long a picture shown at out_pts stays when the input holds it for seconds:
  // as long, unless that is a gap of more than kMaxPictureGapSeconds after the sound
  // has ended, which lasts one output frame.
  double HeldSeconds(int64_t out_pts, double seconds) const;
  // Gives the filter graph one more decoded frame (or its end). False once the graph
  // has been told the input is over.
  bool FeedGraph();
  // Stamps the decoded picture with its place on the graph's timeline and its source
  // frame number, and gives it to the graph.
  void SendDecoded();
  // Tells the graph where the input ends; false when it was told already or never
  // received a picture.
  bool EndPictures();
  // Takes note of a packet of the stream as it is read, in decode order: its time, and
  // whether nothing references the picture in it.
  bool NotePacket(const AVPacket& p);
  // Whether the packet holds a picture that nothing references and that the fps cut
  // would drop anyway, so that decoding it changes nothing.
  bool LeaveOut(const AVPacket& p, bool nothing_references) const;
  // Sends the waiting packet to the decoder, unless it is left out.
  void SendWaiting();
  int OutputSlot(int64_t ts) const;
};

namespace {

constexpr int64_t kFarTicks = int64_t{1} << 52;

// A photo or a cover: the picture attached to a piece of sound (an MP3's APIC, the
// cover of an M4A or FLAC), a picture file read on its own (a numbered sequence such
// as frame-%03d.png is a video), or a stream that says or was found to hold one frame.
bool IsStill(const AVFormatContext* format, const AVStream* stream, bool one_picture) {
  if (stream->disposition & AV_DISPOSITION_ATTACHED_PIC) return true;
  if (stream->nb_frames == 1 || one_picture) return true;
  const std::string_view demuxer = format->iformat->name;
  return demuxer.ends_with("_pipe") || (demuxer == "image2" && stream->duration == 1);
}

// An MP4 or MOV file read as it comes (from a pipe) whose index follows the samples:
// opening it went past them to reach the index, and cannot go back. (Only just
// opened: reading packets moves on too.)
bool IndexPassedBy(const AVFormatContext& format) {
  if (format.pb == nullptr || (format.pb->seekable & AVIO_SEEKABLE_NORMAL) != 0 ||
      std::strncmp(format.iformat->name, "mov,", 4) != 0) {
    return false;
  }
  for (unsigned i = 0; i < format.nb_streams; ++i) {
    const AVIndexEntry* first = avformat_index_get_entry(format.streams[i], 0);
    if (first != nullptr && first->pos < avio_tell(format.pb)) return true;
  }
  return false;
}

// "'song.wav' has no video stream", with what to do when it is sound.
std::string NoPictureMessage(const std::string& input, const AVFormatContext* format) {
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (format->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) {
      return "'" + input +
             "' is sound without a picture: give a picture to show with it as INPUT and the "
             "sound with --audio, e.g. trackloom encode cover.jpg --audio '" +
             input + "' -o DIR";
    }
  }
  return "'" + input + "' has no video stream";
}

// What a stream's header must tell for decoding to start without probing frames
// first (probing 1080p pictures costs as much memory as a decoding thread).
bool HeaderIsEnough(AVFormatContext* format, int index) {
  if (index < 0) return false;
  AVStream* stream = format->streams[index];
  const AVRational rate = av_guess_frame_rate(format, stream, nullptr);
  return stream->codecpar->codec_id != AV_CODEC_ID_NONE && stream->codecpar->width > 0 &&
         stream->codecpar->height > 0 && rate.num > 0 && rate.den > 0;
}

// Decoding threads: as FFmpeg picks them (one more than the cores, so a thread is
// always ready while the main thread filters), but no more than keep the frames they
// hold in flight within about 20 MB (three threads at 1080p), so memory stays bounded
// on big machines.
int DecodingThreads(int width, int height) {
  const long cores = sysconf(_SC_NPROCESSORS_ONLN);
  const int64_t per_thread = std::max<int64_t>(1, int64_t{width} * height * 3);
  const int64_t by_memory = std::max<int64_t>(1, (int64_t{20} << 20) / per_thread);
  return static_cast<int>(
      std::clamp<int64_t>(std::min<int64_t>((cores > 0 ? cores : 1) + 1, by_memory), 1, 16));
}

// Ticks of 1/90000 s place every usual frame rate (24, 25, 30, 30000/1001, 18)
// exactly.
AVRational GraphTimeBase(AVRational stream) {
  return av_q2d(stream) > 1.0 / kFramesPerSecond ? AVRational{1, 90000} : stream;
}

}  // namespace

void GapReport::Add(double at_seconds, double seconds) {
  if (count++ == 0) first_at_seconds = at_seconds;
  longest_seconds = std::max(longest_seconds, std::fabs(seconds));
}

VideoSource::VideoSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
VideoSource::~VideoSource() = default;

void VideoSource::Impl::PlanPictures(AVRational sar) {
  const bool made_for_player = width == kPictureWidth && height == kPictureHeight &&
                               orientation.quarter_turns == 0 && !orientation.mirrored &&
                               colour.kind == ColourKind::kSdr && !options.fit_given &&
                               !options.dither_given;
  reduce_levels = !made_for_player;
  const char* held = still ? ", one still shown for the whole sound" : "";
  if (made_for_player) {
    chain = BuildFilterChain(Fit::kStretch, width, height, 1, 1);
    picture_summary =
        std::string("144 x 80 picture taken as made for the player: not scaled, not dithered") +
        held;
    return;
  }
  chain = BuildFilterChain(options.fit, width, height, sar.num, sar.den, orientation,
                           ColourFilters(colour));
  const std::string converted = DescribeColour(colour);
  picture_summary = DescribeShaping(options.fit, width, height, sar.num, sar.den, orientation) +
                    (converted.empty() ? "" : ", " + converted) +
                    (options.dither == Dither::kOrdered ? ", ordered dithering to 16 levels"
                                                        : ", rounded to 16 levels") +
                    held;
}

AVStream* VideoSource::Impl::OpenInput(const std::string& input, const AVCodec** codec) {
  format = avformat_alloc_context();
  if (format == nullptr) throw CliError("out of memory");
  format->interrupt_callback.callback = AvInterruptCallback;
  int r = avformat_open_input(&format, InputUrl(input).c_str(), nullptr, nullptr);
  if (r < 0) {
    format = nullptr;  // freed by the failed open
    throw CliError("cannot read '" + input + "': " + AvErrorText(r));
  }
  if (IndexPassedBy(*format)) {
    throw CliError("'" + input +
                   "' is an MP4 or MOV file with its index after its pictures, which a pipe "
                   "cannot go back to: give the file itself, or write it with ffmpeg's -movflags "
                   "frag_keyframe+empty_moov");
  }
  VideoStreamChooser chooser(InputUrl(input), options.video_stream);
  VideoStreamChoice choice = chooser.Choose(format);
  if (!HeaderIsEnough(format, choice.index)) {
    const int probed = avformat_find_stream_info(format, nullptr);
    if (probed < 0) throw CliError("cannot read '" + input + "': " + AvErrorText(probed));
    choice = chooser.Choose(format);
  }
  if (HoldsOnlyText(*format)) {
    throw CliError("'" + input + "' is text, not video (FFmpeg would only draw its characters)");
  }
  if (HoldsOnlySubtitles(*format))
    throw CliError("'" + input + "' holds only subtitles, not video");
  if (choice.index < 0 && options.video_stream >= 0) {
    throw CliError("'" + input + "' has no video stream " + std::to_string(options.video_stream) +
                   " (its video streams: " + VideoStreamChooser::ListVideoStreams(*format) +
                   "): give one of those to --video-stream");
  }
  r = choice.index;
  *codec = choice.codec;
  if (r == AVERROR_STREAM_NOT_FOUND) throw CliError(NoPictureMessage(input, format));
  if (r < 0 || *codec == nullptr) {
    throw CliError("'" + input + "': no decoder for its video stream");
  }
  stream_index = r;
  one_picture = choice.one_picture;
  stream_summary = chooser.Describe(*format, r);
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != r) format->streams[i]->discard = AVDISCARD_ALL;
  }
  return format->streams[r];
}

void VideoSource::Impl::TakeStreamShape(AVStream* stream) {
  time_base = stream->time_base;
  graph_time_base = GraphTimeBase(stream->time_base);
  frame_rate = av_guess_frame_rate(format, stream, nullptr);
  still = IsStill(format, stream, one_picture);
  if (frame_rate.num <= 0 || frame_rate.den <= 0 || still) frame_rate = {kFramesPerSecond, 1};
  width = stream->codecpar->width;
  height = stream->codecpar->height;
  stream_sar = stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                   : stream->codecpar->sample_aspect_ratio;
  orientation = OrientationFromDisplayMatrix(reinterpret_cast<const int32_t*>(
      av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr)));
  colour = ColourOfStream(*stream->codecpar);
  PlanPictures(stream_sar);
}

void VideoSource::Impl::OpenDecoder(const AVStream* stream, const AVCodec* codec,
                                    const std::string& input) {
  decoder = avcodec_alloc_context3(codec);
  if (decoder == nullptr) throw CliError("out of memory");
  avcodec_parameters_to_context(decoder, stream->codecpar);
  decoder->pkt_timebase = stream->time_base;
  decoder->thread_count = DecodingThreads(width, height);
  decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  const int r = avcodec_open2(decoder, codec, nullptr);
  if (r < 0) throw CliError("cannot decode the video of '" + input + "': " + AvErrorText(r));
  const char* decode_all = std::getenv("TRACKLOOM_DECODE_ALL");
  may_leave_out =
      decode_all == nullptr || decode_all[0] == '\0' || std::strcmp(decode_all, "0") == 0;
  unreferenced = std::make_unique<UnreferencedPictures>(
      stream->codecpar->codec_id, stream->codecpar->extradata, stream->codecpar->extradata_size,
      stream->codecpar->height);

  packet = av_packet_alloc();
  waiting = av_packet_alloc();
  decoded = av_frame_alloc();
  filtered = av_frame_alloc();
  if (!packet || !waiting || !decoded || !filtered) throw CliError("out of memory");
}

void VideoSource::ReadTimeline(const AVStream* stream) {
  const AVFormatContext* format = impl_->format;
  if (stream->start_time != AV_NOPTS_VALUE) {
    impl_->zero_pts = stream->start_time;
    video_start_seconds_ = static_cast<double>(stream->start_time) * av_q2d(stream->time_base);
  }
  double seconds = -1;
  if (stream->duration > 0) {
    seconds = static_cast<double>(stream->duration) * av_q2d(stream->time_base);
  } else if (format->duration > 0) {
    seconds = static_cast<double>(format->duration) / AV_TIME_BASE;
    if (format->start_time != AV_NOPTS_VALUE && stream->start_time != AV_NOPTS_VALUE) {
      seconds -= video_start_seconds_ - static_cast<double>(format->start_time) / AV_TIME_BASE;
    }
  }
  if (seconds > 0) estimated_frames_ = std::llround(seconds * kFramesPerSecond);
  for (unsigned i = 0; i < format->nb_chapters; ++i) {
    const AVChapter* chapter = format->chapters[i];
    chapter_starts_.push_back(static_cast<double>(chapter->start) * av_q2d(chapter->time_base) -
                              video_start_seconds_);
  }
}

std::unique_ptr<VideoSource> VideoSource::Open(const std::string& input,
                                               const PictureOptions& options, bool generated) {
  auto impl = std::make_unique<Impl>();
  impl->options = options;
  if (generated) return OpenGenerated(std::move(impl), input);
  const AVCodec* codec = nullptr;
  AVStream* stream = impl->OpenInput(input, &codec);
  impl->TakeStreamShape(stream);
  impl->OpenDecoder(stream, codec, input);
  std::unique_ptr<VideoSource> source(new VideoSource(std::move(impl)));
  if (source->impl_->still) {
    // Its length is the sound's, known once the sound is converted.
    source->still_ = true;
    source->video_start_seconds_ = -1;
    return source;
  }
  source->ReadTimeline(stream);
  return source;
}

std::unique_ptr<VideoSource> VideoSource::OpenGenerated(std::unique_ptr<Impl> impl,
                                                        const std::string& description) {
  impl->generator = SourceGraph::Open(description, false);
  impl->time_base = impl->generator->time_base();
  impl->graph_time_base = GraphTimeBase(impl->time_base);
  impl->frame_rate = impl->generator->frame_rate();
  if (impl->frame_rate.num <= 0 || impl->frame_rate.den <= 0)
    impl->frame_rate = {kFramesPerSecond, 1};
  impl->width = impl->generator->width();
  impl->height = impl->generator->height();
  impl->stream_sar = {1, 1};
  impl->PlanPictures({1, 1});
  impl->packet = av_packet_alloc();
  impl->decoded = av_frame_alloc();
  impl->filtered = av_frame_alloc();
  if (!impl->packet || !impl->decoded || !impl->filtered) throw CliError("out of memory");
  return std::unique_ptr<VideoSource>(new VideoSource(std::move(impl)));
}

void VideoSource::Impl::ConfigureGraph(const AVFrame& first) {
  AVRational sar = first.sample_aspect_ratio.num > 0 ? first.sample_aspect_ratio : stream_sar;
  if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
  width = first.width;
  height = first.height;
  if (const AVFrameSideData* turn = av_frame_get_side_data(&first, AV_FRAME_DATA_DISPLAYMATRIX)) {
    orientation = OrientationFromDisplayMatrix(reinterpret_cast<const int32_t*>(turn->data));
  }
  colour = ColourOfFrame(first, colour);
  PlanPictures(sar);

  graph = avfilter_graph_alloc();
  if (graph == nullptr) throw CliError("out of memory");
  char args[512];
  std::snprintf(args, sizeof args,
                "video_size=%dx%d:pix_fmt=%d:time_base=%d/%d:pixel_aspect=%d/%d:frame_rate=%d/%d",
                width, height, first.format, graph_time_base.num, graph_time_base.den, sar.num,
                sar.den, frame_rate.num, frame_rate.den);
  int r = avfilter_graph_create_filter(&buffer_source, avfilter_get_by_name("buffer"), "in", args,
                                       nullptr, graph);
  if (r >= 0) {
    r = avfilter_graph_create_filter(&buffer_sink, avfilter_get_by_name("buffersink"), "out",
                                     nullptr, nullptr, graph);
  }
  if (r < 0) throw CliError("cannot set up the picture conversion: " + AvErrorText(r));

  r = ConnectChain(graph, buffer_source, buffer_sink, chain);
  if (r < 0) throw CliError("cannot set up the picture conversion: " + AvErrorText(r));
}

const std::string& VideoSource::filter_chain() const { return impl_->chain; }
const std::string& VideoSource::picture_summary() const { return impl_->picture_summary; }
const std::string& VideoSource::stream_summary() const { return impl_->stream_summary; }
int VideoSource::input_width() const { return impl_->width; }
int VideoSource::input_height() const { return impl_->height; }

double VideoSource::input_frame_rate() const { return av_q2d(impl_->frame_rate); }
const std::string& VideoSource::read_error() const { return impl_->read_error; }
void VideoSource::set_sound_seconds(double seconds) {
  impl_->sound_seconds = seconds;
  if (!still_) return;
  // The allowance keeps a sound of exactly 3 s at 54 pictures despite binary fractions.
  impl_->still_pictures =
      std::max<int64_t>(2, static_cast<int64_t>(std::ceil(seconds * kFramesPerSecond - 1e-6)));
  estimated_frames_ = impl_->still_pictures;
}
const GapReport& VideoSource::gaps() const { return impl_->gaps; }

double VideoSource::Impl::HeldSeconds(int64_t out_pts, double seconds) const {
  if (seconds >= 0 && seconds <= kMaxPictureGapSeconds) return seconds;
  const double frame = 1.0 / kFramesPerSecond;
  if (seconds < 0) return frame;  // a jump back: the picture before it is shown once
  const double sound_left = sound_seconds - static_cast<double>(out_pts) * av_q2d(graph_time_base);
  return std::min(seconds, std::max(frame, sound_left));
}

int64_t VideoSource::Impl::PlacePicture(int64_t ts) {
  if (last_ts == AV_NOPTS_VALUE) {
    anchor_ts = ts;
    anchor_out_pts = 0;
  } else {
    const double seconds = static_cast<double>(ts - last_ts) * av_q2d(time_base);
    const double held = HeldSeconds(last_out_pts, seconds);
    if (held != seconds) {
      gaps.Add(static_cast<double>(last_out_pts) * av_q2d(graph_time_base), seconds);
      anchor_ts = ts;
      anchor_out_pts =
          last_out_pts + std::max<int64_t>(1, std::llround(held / av_q2d(graph_time_base)));
    }
  }
  last_ts = ts;
  last_out_pts = anchor_out_pts + av_rescale_q(ts - anchor_ts, time_base, graph_time_base);
  return last_out_pts;
}

void VideoSource::Impl::SendDecoded() {
  int64_t ts = generator ? decoded->pts : decoded->best_effort_timestamp;
  // Pictures are left out by their packets' times, which must then be the ones
  // the pictures are shown at.
  if (ts != decoded->pts) may_leave_out = false;
  // A timestamp more than 2^52 ticks away is damage, not a time: it is treated
  // as missing, which keeps every difference below within range.
  if (ts != AV_NOPTS_VALUE && (ts > kFarTicks || ts < -kFarTicks)) ts = AV_NOPTS_VALUE;
  if (ts == AV_NOPTS_VALUE) ts = next_pts != AV_NOPTS_VALUE ? next_pts : 0;
  if (zero_pts == AV_NOPTS_VALUE) zero_pts = ts;
  const int64_t duration = decoded->pkt_duration > 0 && decoded->pkt_duration < kFarTicks
                               ? decoded->pkt_duration
                               : av_rescale_q(1, av_inv_q(frame_rate), time_base);
  next_pts = std::min(ts + std::max<int64_t>(duration, 1), 2 * kFarTicks);
  decoded->pts = PlacePicture(ts);
  // The source frame number rides along with the frame through the graph, since
  // the fps filter repeats or drops frames and restamps them. It counts on the
  // input's own timeline, cut gaps included.
  const int64_t index = std::max<int64_t>(
      0, av_rescale_q_rnd(ts - zero_pts, time_base, av_inv_q(frame_rate),
                          static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX)));
  decoded->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(index));
  if (graph == nullptr) ConfigureGraph(*decoded);
  int r = av_buffersrc_add_frame_flags(buffer_source, decoded, 0);
  av_frame_unref(decoded);
  if (r >= 0 && still) {
    // Converted once, for one output frame; anything after it is not read.
    demuxer_done = decoder_done = true;
    r = av_buffersrc_close(buffer_source,
                           av_rescale_q(1, AVRational{1, kFramesPerSecond}, graph_time_base),
                           AV_BUFFERSRC_FLAG_PUSH);
  }
  if (r < 0) throw CliError("converting a picture failed: " + AvErrorText(r));
}

bool VideoSource::Impl::EndPictures() {
  if (decoder_done) return false;
  decoder_done = true;
  if (graph == nullptr) return false;  // not one picture decoded
  // The input ends where its last frame ends, not where it begins, so a 12 s
  // clip gives 12 s of pictures.
  const double seconds = static_cast<double>(next_pts - last_ts) * av_q2d(time_base);
  const double held = HeldSeconds(last_out_pts, seconds);
  const int64_t end = held == seconds ? anchor_out_pts + av_rescale_q(next_pts - anchor_ts,
                                                                      time_base, graph_time_base)
                                      : last_out_pts + std::llround(held / av_q2d(graph_time_base));
  if (held != seconds)
    gaps.Add(static_cast<double>(last_out_pts) * av_q2d(graph_time_base), seconds);
  const int r = av_buffersrc_close(buffer_source, end, AV_BUFFERSRC_FLAG_PUSH);
  if (r < 0) throw CliError("converting a picture failed: " + AvErrorText(r));
  return true;
}

bool VideoSource::Impl::FeedGraph() {
  for (;;) {
    int r = generator ? generator->Pull(decoded) : avcodec_receive_frame(decoder, decoded);
    if (r >= 0) {
      SendDecoded();
      return true;
    }
    if (r == AVERROR_EOF) return EndPictures();
    if (r != AVERROR(EAGAIN) || generator)
      throw CliError("decoding the video failed: " + AvErrorText(r));

    if (demuxer_done) {
      // Flushing was sent; EAGAIN here should not happen, but never spin.
      return false;
    }
    r = av_read_frame(format, packet);
    if (r < 0) {
      if (StopRequested()) return false;
      // A read error ends the input like its end would; what was decoded is kept,
      // as it is for a truncated file.
      if (r != AVERROR_EOF) read_error = AvErrorText(r);
      demuxer_done = true;
      waiting_nothing_references = false;  // the last picture: none follows to judge by
      SendWaiting();
      avcodec_send_packet(decoder, nullptr);
      continue;
    }
    if (packet->stream_index == stream_index) {
      // A packet goes to the decoder once the next one was read: only then is it
      // known which picture is shown after it.
      const bool nothing_references = NotePacket(*packet);
      SendWaiting();
      av_packet_move_ref(waiting, packet);
      waiting_nothing_references = nothing_references;
    }
    av_packet_unref(packet);
  }
}

void VideoSource::Impl::SendWaiting() {
  if (waiting->data == nullptr && waiting->side_data_elems == 0) return;
  if (!LeaveOut(*waiting, waiting_nothing_references)) {
    // A damaged packet is skipped, as players do; the decoder resynchronises.
    avcodec_send_packet(decoder, waiting);
  }
  av_packet_unref(waiting);
}

int VideoSource::Impl::OutputSlot(int64_t ts) const {
  // As the fps filter rounds a picture's time to its output frames.
  const int64_t out = anchor_out_pts + av_rescale_q(ts - anchor_ts, time_base, graph_time_base);
  return static_cast<int>(
      av_rescale_q_rnd(out, graph_time_base, AVRational{1, kFramesPerSecond},
                       static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX)));
}

bool VideoSource::Impl::NotePacket(const AVPacket& p) {
  const int64_t pts = p.pts;
  if (pts == AV_NOPTS_VALUE || pts > kFarTicks || pts < -kFarTicks) {
    may_leave_out = false;
    return false;
  }
  recent_pts[recent_next] = pts;
  recent_next = (recent_next + 1) % kRecentPackets;
  recent_count = std::min(recent_count + 1, kRecentPackets);
  return may_leave_out && unreferenced->NothingReferences(p);
}

bool VideoSource::Impl::LeaveOut(const AVPacket& p, bool nothing_references) const {
  const int64_t pts = p.pts;
  if (!may_leave_out || !nothing_references || graph == nullptr || last_ts == AV_NOPTS_VALUE)
    return false;
  // The picture shown next is no later than the earliest later one already read.
  int64_t next = INT64_MAX;
  for (int i = 0; i < recent_count; ++i) {
    if (recent_pts[i] > pts) next = std::min(next, recent_pts[i]);
  }
  // Within a second on both sides no gap is cut, so the graph's times of the
  // neighbours follow from the stream's, and the picture before it keeps its slots.
  const int64_t second = av_rescale_q(1, AVRational{1, 1}, time_base);
  if (next == INT64_MAX || pts <= last_ts || pts - last_ts > second || next - pts > second)
    return false;
  // The fps filter drops a picture when the one after it falls on the same output
  // frame or an earlier one.
  return OutputSlot(next) <= OutputSlot(pts);
}

bool VideoSource::Next(Picture& picture) {
  Impl& m = *impl_;
  if (m.still && m.still_given > 0) {
    if (m.still_given >= m.still_pictures || StopRequested()) return false;
    picture.top_row = m.filtered->data[0];
    picture.stride = m.filtered->linesize[0];
    picture.source_frame = m.still_given++;
    return true;
  }
  av_frame_unref(m.filtered);
  for (;;) {
    if (m.graph == nullptr) {
      if (StopRequested() || !m.FeedGraph()) return false;
      continue;
    }
    int r = av_buffersink_get_frame(m.buffer_sink, m.filtered);
    if (r >= 0) {
      if (m.filtered->width != kPictureWidth || m.filtered->height != kPictureHeight ||
          m.filtered->format != AV_PIX_FMT_BGRA) {
        throw CliError("the picture conversion gave an unexpected picture");
      }
      if (m.reduce_levels) {
        r = av_frame_make_writable(m.filtered);
        if (r < 0) throw CliError("converting a picture failed: " + AvErrorText(r));
        ReduceToPanelLevels(m.filtered->data[0], m.filtered->linesize[0], m.options.dither);
      }
      picture.top_row = m.filtered->data[0];
      picture.stride = m.filtered->linesize[0];
      picture.source_frame = static_cast<int64_t>(reinterpret_cast<intptr_t>(m.filtered->opaque));
      if (m.still) m.still_given = 1;
      return true;
    }
    if (r == AVERROR_EOF) return false;
    if (r != AVERROR(EAGAIN)) throw CliError("converting a picture failed: " + AvErrorText(r));
    if (StopRequested()) return false;
    if (!m.FeedGraph()) return false;
  }
}

}  // namespace trackloom::cli
