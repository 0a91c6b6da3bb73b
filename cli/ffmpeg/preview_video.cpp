#include "cli/ffmpeg/preview_video.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/av_versions.h"
#include "cli/ffmpeg/muxing.h"
#include "core/track_format.h"

namespace trackloom::cli {

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
  OutputFormatPtr format;
  CodecContextPtr video;
  CodecContextPtr audio;
  AVStream* video_stream = nullptr;  // owned by format
  AVStream* audio_stream = nullptr;
  ScalerPtr sws;
  ResamplerPtr swr;
  AudioFifoPtr fifo;
  FramePtr picture;
  FramePtr sound;
  PacketPtr packet;
  int width = 0;
  int height = 0;
  PreviewPace pace;
  PreviewPictures pictures = PreviewPictures::kRgb;
  std::vector<uint8_t> padded;  // the picture, with slack behind it for swscale
  std::vector<std::vector<float>> planes;
  int64_t next_video_pts = 0;
  int64_t next_audio_pts = 0;
  std::vector<VideoChapter> chapters;
  bool file_open = false;
  bool finished = false;

  ~State() {
    // The file is closed (by its owner) before a preview that was not completed is
    // removed, so it is not left behind as a broken file.
    format.reset();
    if (file_open && !finished) std::remove(path.c_str());
  }

  // Sends one frame (null: drain) and writes every packet the encoder returns.
  bool Encode(AVCodecContext* codec, AVStream* stream, AVFrame* frame, std::string* error) {
    int rc = avcodec_send_frame(codec, frame);
    if (rc < 0) {
      *error = "encoding the preview failed: " + AvErrorText(rc);
      return false;
    }
    for (;;) {
      rc = avcodec_receive_packet(codec, packet.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) {
        *error = "encoding the preview failed: " + AvErrorText(rc);
        return false;
      }
      av_packet_rescale_ts(packet.get(), codec->time_base, stream->time_base);
      packet->stream_index = stream->index;
      rc = av_interleaved_write_frame(format.get(), packet.get());
      if (rc < 0) {
        *error = "cannot write " + path + ": " + AvErrorText(rc);
        return false;
      }
    }
  }

  // Encodes whole AAC frames from the queue; with drain, also the short last one.
  bool EncodeQueuedSound(bool drain, std::string* error) {
    const int frame_size = audio->frame_size > 0 ? audio->frame_size : 1024;
    while (av_audio_fifo_size(fifo.get()) >= frame_size ||
           (drain && av_audio_fifo_size(fifo.get()) > 0)) {
      const int n = std::min(frame_size, av_audio_fifo_size(fifo.get()));
      av_frame_unref(sound.get());
      sound->nb_samples = n;
      sound->format = audio->sample_fmt;
      sound->sample_rate = audio->sample_rate;
      av_channel_layout_copy(&sound->ch_layout, &audio->ch_layout);
      int rc = av_frame_get_buffer(sound.get(), 0);
      if (rc < 0) {
        *error = "out of memory for the preview's sound";
        return false;
      }
      av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(sound->data), n);
      sound->pts = next_audio_pts;
      next_audio_pts += n;
      if (!Encode(audio.get(), audio_stream, sound.get(), error)) return false;
    }
    return true;
  }

  // Resamples 17640 Hz 8-bit stereo (or, with no input, what the resampler still
  // holds) into the queue.
  bool QueueSound(const uint8_t* samples, int pairs, std::string* error) {
    const int room = swr_get_out_samples(swr.get(), pairs);
    if (room < 0) {
      *error = "resampling the preview's sound failed";
      return false;
    }
    uint8_t* out[2];
    for (int c = 0; c < 2; ++c) {
      planes[static_cast<size_t>(c)].resize(static_cast<size_t>(room) + 1);
      out[c] = reinterpret_cast<uint8_t*>(planes[static_cast<size_t>(c)].data());
    }
    const uint8_t* in[1] = {samples};
    const int got = swr_convert(swr.get(), out, room + 1, samples != nullptr ? in : nullptr, pairs);
    if (got < 0) {
      *error = "resampling the preview's sound failed: " + AvErrorText(got);
      return false;
    }
    if (got > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(out), got) < got) {
      *error = "out of memory for the preview's sound";
      return false;
    }
    return true;
  }
};

PreviewVideo::PreviewVideo(std::unique_ptr<State> state) : state_(std::move(state)) {}
PreviewVideo::~PreviewVideo() = default;

namespace {

// The H.264 and AAC encoders, by name where it matters: libx264 over any other H.264.
bool FindEncoders(const AVCodec** h264, const AVCodec** aac, std::string* error) {
  *h264 = avcodec_find_encoder_by_name("libx264");
  if (*h264 == nullptr) *h264 = avcodec_find_encoder(AV_CODEC_ID_H264);
  if (*h264 == nullptr) {
    *error =
        "this FFmpeg has no H.264 encoder (libx264), so no preview video can be made; "
        "the pictures, the sound and the contact sheet do not need one";
    return false;
  }
  *aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  if (*aac == nullptr) {
    *error =
        "this FFmpeg has no AAC encoder, so no preview video can be made; "
        "the pictures, the sound and the contact sheet do not need one";
    return false;
  }
  return true;
}

// Video: H.264, 4:2:0, one frame a record.
bool OpenVideoEncoder(PreviewVideo::State& s, const AVCodec* h264, std::string* error) {
  s.video.reset(avcodec_alloc_context3(h264));
  if (s.video == nullptr) {
    *error = "out of memory setting up the preview video";
    return false;
  }
  s.video->width = s.width;
  s.video->height = s.height;
  s.video->pix_fmt = AV_PIX_FMT_YUV420P;
  s.video->time_base = AVRational{1, kFrameRate};
  s.video->framerate = AVRational{kFrameRate, 1};
  s.video->gop_size = s.pace.key_every;
  s.video->thread_count = 0;  // as many as the machine has; the library default is one
  if (s.pictures == PreviewPictures::kYuv420) {
    // Said in the stream, so players of large pictures do not take them for BT.709.
    s.video->color_range = AVCOL_RANGE_MPEG;
    s.video->colorspace = AVCOL_SPC_SMPTE170M;
    s.video->color_primaries = AVCOL_PRI_SMPTE170M;
    s.video->color_trc = AVCOL_TRC_SMPTE170M;
  }
  av_opt_set(s.video->priv_data, "preset", s.pace.preset, 0);
  av_opt_set(s.video->priv_data, "crf", s.pace.crf, 0);
  if (s.format->oformat->flags & AVFMT_GLOBALHEADER) s.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  const int rc = avcodec_open2(s.video.get(), h264, nullptr);
  if (rc < 0) {
    *error = std::string("the H.264 encoder ") + h264->name + " cannot be opened (" +
             AvErrorText(rc) + "), so no preview video can be made";
    return false;
  }
  return true;
}

// Sound: AAC, stereo, at a rate AAC knows.
bool OpenAudioEncoder(PreviewVideo::State& s, const AVCodec* aac, std::string* error) {
  s.audio.reset(avcodec_alloc_context3(aac));
  if (s.audio == nullptr) {
    *error = "out of memory setting up the preview video";
    return false;
  }
  const std::vector<AVSampleFormat> formats = SupportedSampleFormats(*aac);
  s.audio->sample_fmt = !formats.empty() ? formats[0] : AV_SAMPLE_FMT_FLTP;
  s.audio->sample_rate = ChooseAudioRate(*aac, s.pace.audio_rate);
  av_channel_layout_default(&s.audio->ch_layout, 2);
  s.audio->bit_rate = s.pace.audio_rate > 22050 ? 128000 : 96000;
  s.audio->time_base = AVRational{1, s.audio->sample_rate};
  if (s.format->oformat->flags & AVFMT_GLOBALHEADER) s.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  // Another AAC encoder than FFmpeg's own has no such option and goes its own way.
  if (s.pace.aac_coder != nullptr && s.audio->priv_data != nullptr)
    av_opt_set(s.audio->priv_data, "aac_coder", s.pace.aac_coder, 0);
  const int rc = avcodec_open2(s.audio.get(), aac, nullptr);
  if (rc < 0) {
    *error = "the AAC encoder cannot be opened (" + AvErrorText(rc) +
             "), so no preview video can be made";
    return false;
  }
  if (s.audio->sample_fmt != AV_SAMPLE_FMT_FLTP) {
    *error = "the AAC encoder wants a sample format other than planar float; no preview video";
    return false;
  }
  return true;
}

// The two streams, and the picture and sound conversions from what records hold.
bool SetUpStreams(PreviewVideo::State& s, std::string* error) {
  s.video_stream = avformat_new_stream(s.format.get(), nullptr);
  s.audio_stream = avformat_new_stream(s.format.get(), nullptr);
  if (s.video_stream == nullptr || s.audio_stream == nullptr ||
      avcodec_parameters_from_context(s.video_stream->codecpar, s.video.get()) < 0 ||
      avcodec_parameters_from_context(s.audio_stream->codecpar, s.audio.get()) < 0) {
    *error = "out of memory setting up the preview video";
    return false;
  }
  s.video_stream->time_base = s.video->time_base;
  s.audio_stream->time_base = s.audio->time_base;

  s.sws.reset(sws_getContext(s.width, s.height, AV_PIX_FMT_RGB24, s.width, s.height,
                             AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
  AVChannelLayout stereo{};
  av_channel_layout_default(&stereo, 2);
  SwrContext* swr = nullptr;  // freed by a failed set-up
  const int rc =
      swr_alloc_set_opts2(&swr, &s.audio->ch_layout, AV_SAMPLE_FMT_FLTP, s.audio->sample_rate,
                          &stereo, AV_SAMPLE_FMT_U8, kSoundRate, 0, nullptr);
  s.swr.reset(swr);
  s.fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, s.audio->sample_rate));
  s.picture = NewFrame();
  s.sound = NewFrame();
  s.packet = NewPacket();
  s.planes.resize(2);
  if (s.sws == nullptr || rc < 0 || swr_init(s.swr.get()) < 0 || s.fifo == nullptr ||
      s.picture == nullptr || s.sound == nullptr || s.packet == nullptr) {
    *error = "cannot set up the preview's picture and sound conversion";
    return false;
  }
  s.picture->format = AV_PIX_FMT_YUV420P;
  s.picture->width = s.width;
  s.picture->height = s.height;
  if (av_frame_get_buffer(s.picture.get(), 0) < 0) {
    *error = "out of memory for the preview's pictures";
    return false;
  }
  // swscale reads its source in wide vectors, past the last pixel: keep slack behind it.
  s.padded.resize(static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 3 + 64);
  return true;
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
  const AVCodec* h264 = nullptr;
  const AVCodec* aac = nullptr;
  if (!FindEncoders(&h264, &aac, error)) return nullptr;
  AVFormatContext* format = nullptr;
  int rc = avformat_alloc_output_context2(&format, nullptr, nullptr, path.c_str());
  s->format.reset(format);
  if (rc < 0 || s->format == nullptr) {
    *error = "cannot tell a video format from the name " + path + " (use .mp4 or .mkv)";
    return nullptr;
  }
  if (!OpenVideoEncoder(*s, h264, error) || !OpenAudioEncoder(*s, aac, error) ||
      !SetUpStreams(*s, error)) {
    return nullptr;
  }
  if (!(s->format->oformat->flags & AVFMT_NOFILE) &&
      !OpenMuxerFile(s->format.get(), path, &s->file_open, error)) {
    return nullptr;
  }
  s->file_open = true;
  rc = avformat_write_header(s->format.get(), nullptr);
  if (rc < 0) {
    *error = "cannot write " + path + ": " + AvErrorText(rc);
    return nullptr;
  }
  return std::unique_ptr<PreviewVideo>(new PreviewVideo(std::move(s)));
}

bool PreviewVideo::AddRecord(const uint8_t* picture, const uint8_t* sound, std::string* error) {
  State& s = *state_;
  if (av_frame_make_writable(s.picture.get()) < 0) {
    *error = "out of memory for the preview's pictures";
    return false;
  }
  if (s.pictures == PreviewPictures::kYuv420) {
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane == 0 ? s.width : s.width / 2, h = plane == 0 ? s.height : s.height / 2;
      for (int y = 0; y < h; ++y)
        std::memcpy(s.picture->data[plane] + static_cast<ptrdiff_t>(y) * s.picture->linesize[plane],
                    picture + static_cast<size_t>(y) * static_cast<size_t>(w),
                    static_cast<size_t>(w));
      picture += static_cast<size_t>(w) * static_cast<size_t>(h);
    }
  } else {
    std::memcpy(s.padded.data(), picture,
                static_cast<size_t>(s.width) * static_cast<size_t>(s.height) * 3);
    const uint8_t* source[1] = {s.padded.data()};
    const int stride[1] = {s.width * 3};
    sws_scale(s.sws.get(), source, stride, 0, s.height, s.picture->data, s.picture->linesize);
  }
  s.picture->pts = s.next_video_pts++;
  if (!s.Encode(s.video.get(), s.video_stream, s.picture.get(), error)) return false;
  return s.QueueSound(sound, kPairsPerRecord, error) && s.EncodeQueuedSound(false, error);
}

void PreviewVideo::BeginChapter(const std::string& title) {
  state_->chapters.push_back(VideoChapter{state_->next_video_pts, title});
}

bool PreviewVideo::Finish(std::string* error) {
  State& s = *state_;
  if (!s.QueueSound(nullptr, 0, error) || !s.EncodeQueuedSound(true, error)) return false;
  if (!s.Encode(s.video.get(), s.video_stream, nullptr, error)) return false;
  if (!s.Encode(s.audio.get(), s.audio_stream, nullptr, error)) return false;
  if (!SetChapters(s.format.get(), s.chapters, s.next_video_pts)) {
    *error = "out of memory for the chapters of " + s.path;
    return false;
  }
  const int rc = av_write_trailer(s.format.get());
  if (rc < 0) {
    *error = "cannot finish " + s.path + ": " + AvErrorText(rc);
    return false;
  }
  if (!(s.format->oformat->flags & AVFMT_NOFILE) && avio_closep(&s.format->pb) < 0) {
    *error = "cannot finish " + s.path;
    return false;
  }
  s.finished = true;
  return true;
}

}  // namespace trackloom::cli
