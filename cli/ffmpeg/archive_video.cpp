#include "cli/ffmpeg/archive_video.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/muxing.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

constexpr int kPairsPerRecord = kAudioChunkSize / 2;  // 980 stereo sample pairs
// A stored pixel is taller than wide: 144 x 80 shown at 4:3.
constexpr AVRational kPixelShape{20, 27};

}  // namespace

struct ArchiveVideo::State {
  std::string path;
  OutputFormatPtr format;
  CodecContextPtr video;
  AVStream* video_stream = nullptr;  // owned by format
  AVStream* audio_stream = nullptr;
  FramePtr picture;
  PacketPtr packet;
  int64_t records = 0;
  std::vector<VideoChapter> chapters;
  bool file_open = false;
  bool finished = false;

  ~State() {
    format.reset();
    if (file_open && !finished) std::remove(path.c_str());
  }

  bool Write(AVPacket* p, std::string* error) {
    const int rc = av_interleaved_write_frame(format.get(), p);
    if (rc < 0) *error = "cannot write " + path + ": " + AvErrorText(rc);
    return rc >= 0;
  }

  bool Encode(AVFrame* frame, std::string* error) {
    int rc = avcodec_send_frame(video.get(), frame);
    while (rc >= 0) {
      rc = avcodec_receive_packet(video.get(), packet.get());
      if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
      if (rc < 0) break;
      av_packet_rescale_ts(packet.get(), video->time_base, video_stream->time_base);
      packet->stream_index = video_stream->index;
      if (!Write(packet.get(), error)) return false;
    }
    *error = "encoding the pictures failed: " + AvErrorText(rc);
    return false;
  }
};

namespace {

bool OpenVideoEncoder(ArchiveVideo::State& s, std::string* error) {
  const AVCodec* ffv1 = avcodec_find_encoder(AV_CODEC_ID_FFV1);
  s.video.reset(ffv1 != nullptr ? avcodec_alloc_context3(ffv1) : nullptr);
  if (s.video == nullptr) {
    *error = "this FFmpeg has no FFV1 encoder, so no archival copy can be made (use .mp4)";
    return false;
  }
  s.video->width = kPictureWidth;
  s.video->height = kPictureHeight;
  // Packed 8-bit RGB, which FFV1 keeps exactly.
  s.video->pix_fmt = AV_PIX_FMT_0RGB32;
  s.video->sample_aspect_ratio = kPixelShape;
  s.video->time_base = AVRational{1, kFramesPerSecond};
  s.video->framerate = AVRational{kFramesPerSecond, 1};
  s.video->gop_size = 1;
  s.video->thread_count = 0;  // slices on every core; the library default is one
  if (s.format->oformat->flags & AVFMT_GLOBALHEADER) s.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  av_opt_set(s.video->priv_data, "level", "3", 0);
  av_opt_set(s.video->priv_data, "slicecrc", "1", 0);
  const int rc = avcodec_open2(s.video.get(), ffv1, nullptr);
  if (rc < 0) {
    *error = "the FFV1 encoder cannot be opened (" + AvErrorText(rc) + ")";
    return false;
  }
  return true;
}

bool SetUpStreams(ArchiveVideo::State& s, std::string* error) {
  s.video_stream = avformat_new_stream(s.format.get(), nullptr);
  s.audio_stream = avformat_new_stream(s.format.get(), nullptr);
  s.picture = NewFrame();
  s.packet = NewPacket();
  if (s.video_stream == nullptr || s.audio_stream == nullptr || s.picture == nullptr ||
      s.packet == nullptr ||
      avcodec_parameters_from_context(s.video_stream->codecpar, s.video.get()) < 0) {
    *error = "out of memory setting up " + s.path;
    return false;
  }
  s.video_stream->time_base = s.video->time_base;
  s.video_stream->sample_aspect_ratio = kPixelShape;
  s.video_stream->avg_frame_rate = AVRational{kFramesPerSecond, 1};
  AVCodecParameters* a = s.audio_stream->codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = AV_CODEC_ID_PCM_U8;
  a->sample_rate = kSoundSampleRate;
  av_channel_layout_default(&a->ch_layout, kSoundChannels);
  a->bits_per_coded_sample = kSoundBitsPerSample;
  a->block_align = kSoundChannels;
  s.audio_stream->time_base = AVRational{1, kSoundSampleRate};
  s.picture->format = s.video->pix_fmt;
  s.picture->width = kPictureWidth;
  s.picture->height = kPictureHeight;
  if (av_frame_get_buffer(s.picture.get(), 0) < 0) {
    *error = "out of memory for the pictures of " + s.path;
    return false;
  }
  return true;
}

}  // namespace

ArchiveVideo::ArchiveVideo(std::unique_ptr<State> state) : state_(std::move(state)) {}
ArchiveVideo::~ArchiveVideo() = default;

std::unique_ptr<ArchiveVideo> ArchiveVideo::Create(const std::string& path, std::string* error) {
  auto s = std::make_unique<State>();
  s->path = path;
  AVFormatContext* format = nullptr;
  int rc = avformat_alloc_output_context2(&format, nullptr, "matroska", path.c_str());
  s->format.reset(format);
  if (rc < 0 || s->format == nullptr) {
    *error = "this FFmpeg cannot write Matroska files";
    return nullptr;
  }
  if (!OpenVideoEncoder(*s, error) || !SetUpStreams(*s, error) ||
      !OpenMuxerFile(s->format.get(), path, &s->file_open, error)) {
    return nullptr;
  }
  rc = avformat_write_header(s->format.get(), nullptr);
  if (rc < 0) {
    *error = "cannot write " + path + ": " + AvErrorText(rc);
    return nullptr;
  }
  return std::unique_ptr<ArchiveVideo>(new ArchiveVideo(std::move(s)));
}

void ArchiveVideo::BeginChapter(const std::string& title) {
  state_->chapters.push_back(VideoChapter{state_->records, title});
}

bool ArchiveVideo::AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) {
  State& s = *state_;
  if (av_frame_make_writable(s.picture.get()) < 0) {
    *error = "out of memory for the pictures of " + s.path;
    return false;
  }
  for (int y = 0; y < kPictureHeight; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(s.picture->data[0] + y * s.picture->linesize[0]);
    const uint8_t* in = rgb + y * kPictureWidth * 3;
    for (int x = 0; x < kPictureWidth; ++x, in += 3) {
      row[x] = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    }
  }
  s.picture->pts = s.records;
  if (!s.Encode(s.picture.get(), error)) return false;
  PacketPtr audio = NewPacket();
  if (audio == nullptr || av_new_packet(audio.get(), kAudioChunkSize) < 0) {
    *error = "out of memory for the sound of " + s.path;
    return false;
  }
  std::memcpy(audio->data, sound, kAudioChunkSize);
  audio->pts = audio->dts = s.records * kPairsPerRecord;
  audio->duration = kPairsPerRecord;
  audio->stream_index = s.audio_stream->index;
  av_packet_rescale_ts(audio.get(), AVRational{1, kSoundSampleRate}, s.audio_stream->time_base);
  ++s.records;
  return s.Write(audio.get(), error);
}

bool ArchiveVideo::Finish(std::string* error) {
  State& s = *state_;
  if (!s.Encode(nullptr, error)) return false;
  if (!SetChapters(s.format.get(), s.chapters, s.records)) {
    *error = "out of memory for the chapters of " + s.path;
    return false;
  }
  int rc = av_write_trailer(s.format.get());
  if (rc >= 0) rc = avio_closep(&s.format->pb);
  if (rc < 0) {
    *error = "cannot finish " + s.path + ": " + AvErrorText(rc);
    return false;
  }
  s.finished = true;
  return true;
}

}  // namespace trackloom::cli
