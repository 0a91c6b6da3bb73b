#include "cli/ffmpeg/preview_video.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/av_versions.h"
#include "cli/ffmpeg/encoder.h"
#include "cli/ffmpeg/muxer.h"
#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {

namespace {

constexpr int kFrameRate = kFramesPerSecond;  // one record a frame
constexpr int kSoundRate = kSoundSampleRate;
constexpr int kPairsPerRecord = kAudioChunkSize / 2;  // 980 stereo sample pairs

// AAC has no 17640 Hz: the rate asked for (44100 = 2.5 x 17640, or 22050), or the
// highest the encoder has.
int ChooseAudioRate(const AVCodec& codec, int preferred) {
  const std::vector<int> rates = SupportedSampleRates(codec);
  if (rates.empty()) return preferred;
  int best = 0;
  for (const int r : rates) {
    if (r == preferred) return r;
    best = std::max(best, r);
  }
  return best;
}

bool TakesPreview(const AVOutputFormat* format) {
  // Muxers that write a playlist and pieces (HLS, DASH) make no single file.
  if (format == nullptr || (format->flags & AVFMT_NOFILE)) return false;
  // MPEG-TS answers "unknown" for every codec, but carries both.
  if (std::strcmp(format->name, "mpegts") == 0) return true;
  return avformat_query_codec(format, AV_CODEC_ID_H264, FF_COMPLIANCE_NORMAL) == 1 &&
         avformat_query_codec(format, AV_CODEC_ID_AAC, FF_COMPLIANCE_NORMAL) == 1;
}

}  // namespace

bool PreviewVideoNameFits(const std::string& path) {
  return TakesPreview(av_guess_format(nullptr, path.c_str(), nullptr));
}

std::string PreviewVideoExtensions() {
  std::set<std::string> extensions;
  void* next = nullptr;
  while (const AVOutputFormat* format = av_muxer_iterate(&next)) {
    const char* list = format->extensions != nullptr ? format->extensions : "";
    for (const char* start = list; *start != '\0';) {
      const char* end = std::strchr(start, ',');
      const std::string extension(start, end != nullptr ? end : start + std::strlen(start));
      // The muxer the name picks, which need not be this one (.mp4 is also PSP's).
      if (PreviewVideoNameFits("x." + extension)) extensions.insert(extension);
      start = end != nullptr ? end + 1 : start + extension.size();
    }
  }
  std::string text;
  for (const std::string& e : extensions) text += (text.empty() ? "." : ", .") + e;
  return text;
}

struct PreviewVideo::State {
  std::string path;
  int width = 0;
  int height = 0;
  PreviewPace pace;
  PreviewPictures pictures = PreviewPictures::kRgb;
  std::unique_ptr<Muxer> muxer;
  Encoder video{"encoding the preview failed"};
  Encoder audio{"encoding the preview failed"};
  const AVStream* video_stream = nullptr;  // owned by muxer
  const AVStream* audio_stream = nullptr;
  ScalerPtr sws;
  ResamplerPtr swr;
  AudioFifoPtr fifo;
  FramePtr picture;
  FramePtr sound;
  std::vector<uint8_t> padded;  // the picture, with slack behind it for swscale
  std::vector<std::vector<float>> planes;
  int64_t next_video_pts = 0;
  int64_t next_audio_pts = 0;
  std::vector<VideoChapter> chapters;

  // Encodes whole AAC frames from the queue; with drain, also the short last one.
  void EncodeQueuedSound(bool drain) {
    const AVCodecContext& codec = audio.context();
    const int frame_size = codec.frame_size > 0 ? codec.frame_size : 1024;
    while (av_audio_fifo_size(fifo.get()) >= frame_size ||
           (drain && av_audio_fifo_size(fifo.get()) > 0)) {
      const int n = std::min(frame_size, av_audio_fifo_size(fifo.get()));
      av_frame_unref(sound.get());
      sound->nb_samples = n;
      sound->format = codec.sample_fmt;
      sound->sample_rate = codec.sample_rate;
      av_channel_layout_copy(&sound->ch_layout, &codec.ch_layout);
      if (av_frame_get_buffer(sound.get(), 0) < 0)
        throw CliError("out of memory for the preview's sound");
      av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(sound->data), n);
      sound->pts = next_audio_pts;
      next_audio_pts += n;
      muxer->Encode(audio, *audio_stream, sound.get());
    }
  }

  // Resamples 17640 Hz 8-bit stereo (or, with no input, what the resampler still
  // holds) into the queue.
  void QueueSound(const uint8_t* samples, int pairs) {
    const int room = swr_get_out_samples(swr.get(), pairs);
    if (room < 0) throw CliError("resampling the preview's sound failed");
    uint8_t* out[2];
    for (int c = 0; c < 2; ++c) {
      planes[static_cast<size_t>(c)].resize(static_cast<size_t>(room) + 1);
      out[c] = reinterpret_cast<uint8_t*>(planes[static_cast<size_t>(c)].data());
    }
    const uint8_t* in[1] = {samples};
    const int got = swr_convert(swr.get(), out, room + 1, samples != nullptr ? in : nullptr, pairs);
    if (got < 0) throw CliError("resampling the preview's sound failed: " + AvErrorText(got));
    if (got > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out), got) < got)
      throw CliError("out of memory for the preview's sound");
  }

  // The record's picture into the encoder's 4:2:0.
  void TakePicture(const uint8_t* in) {
    if (av_frame_make_writable(picture.get()) < 0)
      throw CliError("out of memory for the preview's pictures");
    if (pictures == PreviewPictures::kYuv420) {
      for (int plane = 0; plane < 3; ++plane) {
        const int w = plane == 0 ? width : width / 2, h = plane == 0 ? height : height / 2;
        for (int y = 0; y < h; ++y)
          std::memcpy(picture->data[plane] + static_cast<ptrdiff_t>(y) * picture->linesize[plane],
                      in + static_cast<size_t>(y) * static_cast<size_t>(w), static_cast<size_t>(w));
        in += static_cast<size_t>(w) * static_cast<size_t>(h);
      }
      return;
    }
    std::memcpy(padded.data(), in, static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
    const uint8_t* source[1] = {padded.data()};
    const int stride[1] = {width * 3};
    sws_scale(sws.get(), source, stride, 0, height, picture->data, picture->linesize);
  }
};

PreviewVideo::PreviewVideo(std::unique_ptr<State> state) : state_(std::move(state)) {}
PreviewVideo::~PreviewVideo() = default;

namespace {

constexpr const char* kNotNeeded =
    ", so no preview video can be made; the pictures, the sound and the contact sheet do not "
    "need one";

// The H.264 encoder, by name where it matters: libx264 over any other.
const AVCodec& H264Encoder() {
  const AVCodec* h264 = avcodec_find_encoder_by_name("libx264");
  if (h264 == nullptr) h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (h264 == nullptr)
    throw CliError(std::string("this FFmpeg has no H.264 encoder (libx264)") + kNotNeeded);
  return *h264;
}

const AVCodec& AacEncoder() {
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (aac == nullptr) throw CliError(std::string("this FFmpeg has no AAC encoder") + kNotNeeded);
  return *aac;
}

// Video: H.264, 4:2:0, one frame a record.
void OpenVideoEncoder(PreviewVideo::State& s, const AVCodec& h264) {
  const int rc = s.video.Open(h264, [&](AVCodecContext& c) {
    c.width = s.width;
    c.height = s.height;
    c.pix_fmt = AV_PIX_FMT_YUV420P;
    c.time_base = AVRational{1, kFrameRate};
    c.framerate = AVRational{kFrameRate, 1};
    c.gop_size = s.pace.key_every;
    c.thread_count = 0;  // as many as the machine has; the library default is one
    if (s.pictures == PreviewPictures::kYuv420) {
      // Said in the stream, so players of large pictures do not take them for BT.709.
      c.color_range = AVCOL_RANGE_MPEG;
      c.colorspace = AVCOL_SPC_SMPTE170M;
      c.color_primaries = AVCOL_PRI_SMPTE170M;
      c.color_trc = AVCOL_TRC_SMPTE170M;
    }
    av_opt_set(c.priv_data, "preset", s.pace.preset, 0);
    av_opt_set(c.priv_data, "crf", s.pace.crf, 0);
    if (s.muxer->global_header()) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  });
  if (rc < 0) {
    throw CliError(std::string("the H.264 encoder ") + h264.name + " cannot be opened (" +
                   AvErrorText(rc) + "), so no preview video can be made");
  }
}

// Sound: AAC, stereo, at a rate AAC knows.
void OpenAudioEncoder(PreviewVideo::State& s, const AVCodec& aac) {
  const int rc = s.audio.Open(aac, [&](AVCodecContext& c) {
    const std::vector<AVSampleFormat> formats = SupportedSampleFormats(aac);
    c.sample_fmt = !formats.empty() ? formats[0] : AV_SAMPLE_FMT_FLTP;
    c.sample_rate = ChooseAudioRate(aac, s.pace.audio_rate);
    av_channel_layout_default(&c.ch_layout, 2);
    c.bit_rate = s.pace.audio_rate > 22050 ? 128000 : 96000;
    c.time_base = AVRational{1, c.sample_rate};
    if (s.muxer->global_header()) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    // Another AAC encoder than FFmpeg's own has no such option and goes its own way.
    if (s.pace.aac_coder != nullptr && c.priv_data != nullptr)
      av_opt_set(c.priv_data, "aac_coder", s.pace.aac_coder, 0);
  });
  if (rc < 0) {
    throw CliError("the AAC encoder cannot be opened (" + AvErrorText(rc) +
                   "), so no preview video can be made");
  }
  if (s.audio.context().sample_fmt != AV_SAMPLE_FMT_FLTP)
    throw CliError(
        "the AAC encoder wants a sample format other than planar float; no preview video");
}

// The picture and sound conversions from what records hold.
void SetUpConversions(PreviewVideo::State& s) {
  const AVCodecContext& audio = s.audio.context();
  s.sws.reset(sws_getContext(s.width, s.height, AV_PIX_FMT_RGB24, s.width, s.height,
                             AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
  AVChannelLayout stereo{};
  av_channel_layout_default(&stereo, 2);
  SwrContext* swr = nullptr;  // freed by a failed set-up
  // Only read, though older FFmpeg's declaration does not say so.
  auto* layout = const_cast<AVChannelLayout*>(&audio.ch_layout);
  const int rc = swr_alloc_set_opts2(&swr, layout, AV_SAMPLE_FMT_FLTP, audio.sample_rate, &stereo,
                                     AV_SAMPLE_FMT_U8, kSoundRate, 0, nullptr);
  s.swr.reset(swr);
  s.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, audio.sample_rate));
  s.picture = NewFrame();
  s.sound = NewFrame();
  s.planes.resize(2);
  if (s.sws == nullptr || rc < 0 || swr_init(s.swr.get()) < 0 || s.fifo == nullptr ||
      s.picture == nullptr || s.sound == nullptr) {
    throw CliError("cannot set up the preview's picture and sound conversion");
  }
  s.picture->format = AV_PIX_FMT_YUV420P;
  s.picture->width = s.width;
  s.picture->height = s.height;
  if (av_frame_get_buffer(s.picture.get(), 0) < 0)
    throw CliError("out of memory for the preview's pictures");
  // swscale reads its source in wide vectors, past the last pixel: keep slack behind it.
  s.padded.resize(static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 3 + 64);
}

void SetUp(PreviewVideo::State& s) {
  const AVCodec& h264 = H264Encoder();
  const AVCodec& aac = AacEncoder();
  s.muxer = Muxer::For(s.path, nullptr);
  if (s.muxer == nullptr)
    throw CliError("cannot tell a video format from the name " + s.path + " (use .mp4 or .mkv)");
  OpenVideoEncoder(s, h264);
  OpenAudioEncoder(s, aac);
  s.video_stream = &s.muxer->AddStream(s.video);
  s.audio_stream = &s.muxer->AddStream(s.audio);
  SetUpConversions(s);
  s.muxer->Begin();
}

}  // namespace

std::unique_ptr<PreviewVideo> PreviewVideo::Create(const std::string& path, int width, int height,
                                                   std::string* error, PreviewPace pace,
                                                   PreviewPictures pictures) {
  auto s = std::make_unique<State>();
  s->path = path;
  s->width = width;
  s->height = height;
  s->pace = pace;
  s->pictures = pictures;
  if (!Attempt([&] { SetUp(*s); }, error)) return nullptr;
  return std::unique_ptr<PreviewVideo>(new PreviewVideo(std::move(s)));
}

bool PreviewVideo::AddRecord(const uint8_t* picture, const uint8_t* sound, std::string* error) {
  State& s = *state_;
  return Attempt(
      [&] {
        s.TakePicture(picture);
        s.picture->pts = s.next_video_pts++;
        s.muxer->Encode(s.video, *s.video_stream, s.picture.get());
        s.QueueSound(sound, kPairsPerRecord);
        s.EncodeQueuedSound(false);
      },
      error);
}

void PreviewVideo::BeginChapter(const std::string& title) {
  state_->chapters.push_back(VideoChapter{state_->next_video_pts, title});
}

bool PreviewVideo::Finish(std::string* error) {
  State& s = *state_;
  return Attempt(
      [&] {
        s.QueueSound(nullptr, 0);
        s.EncodeQueuedSound(true);
        s.muxer->Encode(s.video, *s.video_stream, nullptr);
        s.muxer->Encode(s.audio, *s.audio_stream, nullptr);
        s.muxer->Finish(s.chapters, s.next_video_pts);
      },
      error);
}

}  // namespace trackloom::cli::ffmpeg
