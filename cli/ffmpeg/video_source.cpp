#include "cli/ffmpeg/video_source.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/av_versions.h"
#include "cli/ffmpeg/decoder.h"
#include "cli/ffmpeg/filter_chain.h"
#include "cli/ffmpeg/hdr_conversion.h"
#include "cli/ffmpeg/unreferenced_pictures.h"
#include "cli/ffmpeg/video_input.h"

namespace trackloom::cli::ffmpeg {

struct VideoSource::Impl {
  // Declared first so that it goes last: the decoder's threads still hold the
  // input's buffers until the decoder is closed.
  InputFormatPtr format;
  Decoder decoder;
  // Set up from the first decoded picture, which is what counts where it and the
  // stream's header differ.
  std::unique_ptr<FilterChain> pictures;
  PacketPtr packet;
  FramePtr decoded;
  FramePtr filtered;
  int stream_index = -1;
  bool one_picture = false;                // the stream was found to hold a single picture
  std::unique_ptr<FilterChain> generator;  // instead of format and decoder
  PictureOptions options;
  Orientation orientation;    // as the stream's display matrix asks
  ColourSource colour;        // what its colours need to become SDR's
  bool reduce_levels = true;  // false for a picture taken as made for the player
  // With subpixel sampling the graph gives half-dot cells, and the picture is made
  // from them here.
  std::vector<uint8_t> sampled;
  uint8_t* top_row = nullptr;  // the picture handed out, in filtered or sampled
  int stride = 0;
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
  PacketPtr waiting;  // the packet read last, not yet sent
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
  // After a seek for one moment: decoded pictures before this time (the stream's) are
  // only references for the ones after, never shaped or shown.
  int64_t preroll_until = AV_NOPTS_VALUE;
  // Where the 18 fps cut starts then: not at the input's start, which would repeat
  // the first picture decoded until the moment.
  int64_t start_frame = 0;

  // The chain, whether levels are reduced here, and the summary line, for pictures
  // of width x height at sar, shown as orientation asks, in colour.
  void PlanPictures(AVRational sar);
  // Sets the chain up for the pictures the decoder actually delivers.
  void StartPictures(const AVFrame& first);
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
  // Makes the picture the graph gave ready to hand out: sampled from its cells when
  // it has them, and reduced to the panel's levels.
  void TakePicture();
};

namespace {

constexpr int64_t kFarTicks = int64_t{1} << 52;

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
  const bool made_for_player =
      width == kPictureWidth && height == kPictureHeight && orientation.quarter_turns == 0 &&
      !orientation.mirrored && colour.kind == ColourKind::kSdr && !options.fit_given &&
      !options.dither_given && !options.sampling_given && options.levels == LevelsMode::kStandard;
  reduce_levels = !made_for_player;
  const char* held = still ? ", one still shown for the whole sound" : "";
  if (made_for_player) {
    chain = BuildFilterChain(Fit::kStretch, width, height, 1, 1, {}, "format=bgra",
                             Sampling::kPixel, start_frame);
    picture_summary =
        std::string("144 x 80 picture taken as made for the player: not scaled, not dithered") +
        held;
    return;
  }
  chain = BuildFilterChain(options.fit, width, height, sar.num, sar.den, orientation,
                           ColourFilters(colour), options.sampling, start_frame);
  const std::string converted = DescribeColour(colour);
  picture_summary =
      DescribeShaping(options.fit, width, height, sar.num, sar.den, orientation) +
      (converted.empty() ? "" : ", " + converted) +
      (options.dither == Dither::kOrdered ? ", ordered dithering to 16 levels"
                                          : ", rounded to 16 levels") +
      (options.levels == LevelsMode::kAdaptive ? " chosen for each track" : "") +
      (options.sampling == Sampling::kSubpixel ? ", each component sampled at its dot" : "") + held;
}

void VideoSource::Impl::TakeStreamShape(AVStream* stream) {
  time_base = stream->time_base;
  graph_time_base = GraphTimeBase(stream->time_base);
  frame_rate = av_guess_frame_rate(format.get(), stream, nullptr);
  still = IsStill(*format, *stream, one_picture);
  if (frame_rate.num <= 0 || frame_rate.den <= 0 || still) frame_rate = {kFramesPerSecond, 1};
  width = stream->codecpar->width;
  height = stream->codecpar->height;
  stream_sar = stream->sample_aspect_ratio.num > 0 ? stream->sample_aspect_ratio
                                                   : stream->codecpar->sample_aspect_ratio;
  orientation = OrientationFromDisplayMatrix(StreamDisplayMatrix(*stream));
  colour = ColourOfStream(*stream->codecpar);
  PlanPictures(stream_sar);
}

void VideoSource::Impl::OpenDecoder(const AVStream* stream, const AVCodec* codec,
                                    const std::string& input) {
  const int r = decoder.Open(*stream, *codec, DecodingThreads(width, height));
  if (r < 0) throw CliError("cannot decode the video of '" + input + "': " + AvErrorText(r));
  const char* decode_all = std::getenv("TRACKLOOM_DECODE_ALL");
  may_leave_out =
      decode_all == nullptr || decode_all[0] == '\0' || std::strcmp(decode_all, "0") == 0;
  unreferenced = std::make_unique<UnreferencedPictures>(
      stream->codecpar->codec_id, stream->codecpar->extradata, stream->codecpar->extradata_size,
      stream->codecpar->height);

  packet = MakePacket();
  waiting = MakePacket();
  decoded = MakeFrame();
  filtered = MakeFrame();
}

void VideoSource::ReadTimeline(const AVStream* stream) {
  const AVFormatContext* format = impl_->format.get();
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
  VideoInput opened = OpenVideoInput(input, options.video_stream);
  impl->format = std::move(opened.format);
  impl->stream_index = opened.stream->index;
  impl->one_picture = opened.one_picture;
  impl->stream_summary = std::move(opened.stream_summary);
  AVStream* stream = opened.stream;
  impl->TakeStreamShape(stream);
  impl->OpenDecoder(stream, opened.codec, input);
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
  impl->generator = FilterChain::Generated(description, false);
  impl->time_base = impl->generator->time_base();
  impl->graph_time_base = GraphTimeBase(impl->time_base);
  impl->frame_rate = impl->generator->frame_rate();
  if (impl->frame_rate.num <= 0 || impl->frame_rate.den <= 0)
    impl->frame_rate = {kFramesPerSecond, 1};
  impl->width = impl->generator->width();
  impl->height = impl->generator->height();
  impl->stream_sar = {1, 1};
  impl->PlanPictures({1, 1});
  impl->decoded = MakeFrame();
  impl->filtered = MakeFrame();
  return std::unique_ptr<VideoSource>(new VideoSource(std::move(impl)));
}

void VideoSource::Impl::StartPictures(const AVFrame& first) {
  AVRational sar = first.sample_aspect_ratio.num > 0 ? first.sample_aspect_ratio : stream_sar;
  if (sar.num <= 0 || sar.den <= 0) sar = {1, 1};
  width = first.width;
  height = first.height;
  if (const AVFrameSideData* turn = av_frame_get_side_data(&first, AV_FRAME_DATA_DISPLAYMATRIX)) {
    orientation = OrientationFromDisplayMatrix(reinterpret_cast<const int32_t*>(turn->data));
  }
  colour = ColourOfFrame(first, colour);
  PlanPictures(sar);
  pictures = FilterChain::ForPictures(first, graph_time_base, sar, frame_rate, chain);
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
int64_t VideoSource::damaged_packets() const { return impl_->decoder.damaged(); }

double VideoSource::Impl::HeldSeconds(int64_t out_pts, double seconds) const {
  if (seconds >= 0 && seconds <= kMaxPictureGapSeconds) return seconds;
  const double frame = 1.0 / kFramesPerSecond;
  if (seconds < 0) return frame;  // a jump back: the picture before it is shown once
  const double sound_left = sound_seconds - static_cast<double>(out_pts) * av_q2d(graph_time_base);
  return std::min(seconds, std::max(frame, sound_left));
}

int64_t VideoSource::Impl::PlacePicture(int64_t ts) {
  if (last_ts == AV_NOPTS_VALUE) {
    // After a seek the timeline still counts from the input's start, so that the
    // 18 fps cut keeps and drops the same pictures as when the whole input is read.
    anchor_ts = preroll_until != AV_NOPTS_VALUE ? zero_pts : ts;
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
  const int64_t given = FrameDuration(*decoded);
  const int64_t duration =
      given > 0 && given < kFarTicks ? given : av_rescale_q(1, av_inv_q(frame_rate), time_base);
  next_pts = std::min(ts + std::max<int64_t>(duration, 1), 2 * kFarTicks);
  decoded->pts = PlacePicture(ts);
  // The source frame number rides along with the frame through the graph, since
  // the fps filter repeats or drops frames and restamps them. It counts on the
  // input's own timeline, cut gaps included.
  const int64_t index = std::max<int64_t>(
      0, av_rescale_q_rnd(ts - zero_pts, time_base, av_inv_q(frame_rate),
                          static_cast<AVRounding>(AV_ROUND_NEAR_INF | AV_ROUND_PASS_MINMAX)));
  decoded->opaque = reinterpret_cast<void*>(static_cast<intptr_t>(index));
  if (pictures == nullptr) StartPictures(*decoded);
  pictures->Push(decoded.get());
  if (still) {
    // Converted once, for one output frame; anything after it is not read.
    demuxer_done = decoder_done = true;
    pictures->Close(av_rescale_q(1, AVRational{1, kFramesPerSecond}, graph_time_base));
  }
}

bool VideoSource::Impl::EndPictures() {
  if (decoder_done) return false;
  decoder_done = true;
  if (pictures == nullptr) return false;  // not one picture decoded
  // The input ends where its last frame ends, not where it begins, so a 12 s
  // clip gives 12 s of pictures.
  const double seconds = static_cast<double>(next_pts - last_ts) * av_q2d(time_base);
  const double held = HeldSeconds(last_out_pts, seconds);
  const int64_t end = held == seconds ? anchor_out_pts + av_rescale_q(next_pts - anchor_ts,
                                                                      time_base, graph_time_base)
                                      : last_out_pts + std::llround(held / av_q2d(graph_time_base));
  if (held != seconds)
    gaps.Add(static_cast<double>(last_out_pts) * av_q2d(graph_time_base), seconds);
  pictures->Close(end);
  return true;
}

bool VideoSource::Impl::FeedGraph() {
  for (;;) {
    int r = generator ? generator->Pull(decoded.get()) : decoder.Receive(decoded.get());
    if (r >= 0 && preroll_until != AV_NOPTS_VALUE &&
        decoded->best_effort_timestamp != AV_NOPTS_VALUE &&
        decoded->best_effort_timestamp < preroll_until) {
      av_frame_unref(decoded.get());
      continue;
    }
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
    r = av_read_frame(format.get(), packet.get());
    if (r < 0) {
      if (StopRequested()) return false;
      // A read error ends the input like its end would; what was decoded is kept,
      // as it is for a truncated file.
      if (r != AVERROR_EOF) read_error = AvErrorText(r);
      demuxer_done = true;
      waiting_nothing_references = false;  // the last picture: none follows to judge by
      SendWaiting();
      decoder.Finish();
      continue;
    }
    if (packet->stream_index == stream_index) {
      // A packet goes to the decoder once the next one was read: only then is it
      // known which picture is shown after it.
      const bool nothing_references = NotePacket(*packet);
      SendWaiting();
      av_packet_move_ref(waiting.get(), packet.get());
      waiting_nothing_references = nothing_references;
    }
    av_packet_unref(packet.get());
  }
}

void VideoSource::Impl::SendWaiting() {
  if (waiting->data == nullptr && waiting->side_data_elems == 0) return;
  // Before the moment sought, a picture nothing references is never needed.
  const bool before_moment = preroll_until != AV_NOPTS_VALUE && waiting_nothing_references &&
                             waiting->pts != AV_NOPTS_VALUE && waiting->pts < preroll_until;
  if (!before_moment && !LeaveOut(*waiting, waiting_nothing_references)) decoder.Send(*waiting);
  av_packet_unref(waiting.get());
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
  if (!may_leave_out || !nothing_references || pictures == nullptr || last_ts == AV_NOPTS_VALUE)
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

void VideoSource::Impl::TakePicture() {
  const bool cells = options.sampling == Sampling::kSubpixel && reduce_levels;
  if (filtered->width != (cells ? kCellWidth : kPictureWidth) ||
      filtered->height != (cells ? kCellHeight : kPictureHeight) ||
      filtered->format != AV_PIX_FMT_BGRA) {
    throw CliError("the picture conversion gave an unexpected picture");
  }
  top_row = filtered->data[0];
  stride = filtered->linesize[0];
  if (cells) {
    sampled.resize(size_t{kPictureWidth} * kPictureHeight * 4);
    stride = kPictureWidth * 4;
    SampleSubpixels(filtered->data[0], filtered->linesize[0], sampled.data(), stride);
    top_row = sampled.data();
  } else if (reduce_levels) {
    const int r = av_frame_make_writable(filtered.get());
    if (r < 0) throw CliError("converting a picture failed: " + AvErrorText(r));
    top_row = filtered->data[0];
    stride = filtered->linesize[0];
  }
  // Adaptive levels are reduced by the encode, once a whole track is seen.
  if (reduce_levels && options.levels == LevelsMode::kStandard) {
    ReduceToPanelLevels(top_row, stride, options.dither);
  }
}

bool VideoSource::SeekNear(double seconds) {
  Impl& m = *impl_;
  if (m.generator || m.still || m.pictures || !m.format || seconds <= 0) return false;
  const int64_t start = m.zero_pts == AV_NOPTS_VALUE ? 0 : m.zero_pts;
  const int64_t target =
      start + av_rescale_q(std::llround(seconds * 1000), AVRational{1, 1000}, m.time_base);
  // The picture in the time's 18 fps slot may have begun up to a slot and a frame of
  // the input before the time (a frame more for the rounding of the cut): decoding
  // starts at the key frame before that.
  const int64_t earliest = target - av_rescale_q(1, AVRational{1, kFramesPerSecond}, m.time_base) -
                           av_rescale_q(2, av_inv_q(m.frame_rate), m.time_base);
  if (earliest <= start || avformat_seek_file(m.format.get(), m.stream_index, INT64_MIN, earliest,
                                              earliest, AVSEEK_FLAG_BACKWARD) < 0)
    return false;
  m.preroll_until = earliest;
  m.start_frame =
      std::max<int64_t>(0, av_rescale_q_rnd(earliest - start, m.time_base,
                                            AVRational{1, kFramesPerSecond}, AV_ROUND_DOWN));
  return true;
}

bool VideoSource::Next(Picture& picture) {
  Impl& m = *impl_;
  if (m.still && m.still_given > 0) {
    if (m.still_given >= m.still_pictures || StopRequested()) return false;
    picture.top_row = m.top_row;
    picture.stride = m.stride;
    picture.source_frame = m.still_given++;
    return true;
  }
  av_frame_unref(m.filtered.get());
  for (;;) {
    if (m.pictures == nullptr) {
      if (StopRequested() || !m.FeedGraph()) return false;
      continue;
    }
    int r = m.pictures->Pull(m.filtered.get());
    if (r >= 0) {
      m.TakePicture();
      picture.top_row = m.top_row;
      picture.stride = m.stride;
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

}  // namespace trackloom::cli::ffmpeg
