#include "cli/ffmpeg/archive_video.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
}

#include <cstring>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/av_error.h"
#include "cli/ffmpeg/av_owners.h"
#include "cli/ffmpeg/encoder.h"
#include "cli/ffmpeg/muxer.h"
#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {
namespace {

constexpr int kPairsPerRecord = kAudioChunkSize / 2;  // 980 stereo sample pairs
// A stored pixel is taller than wide: 144 x 80 shown at 4:3.
constexpr AVRational kPixelShape{20, 27};

}  // namespace

struct ArchiveVideo::State {
  std::string path;
  std::unique_ptr<Muxer> muxer;
  Encoder video{"encoding the pictures failed"};
  const AVStream* video_stream = nullptr;  // owned by muxer
  const AVStream* audio_stream = nullptr;
  FramePtr picture;
  int64_t records = 0;
  std::vector<VideoChapter> chapters;
};

namespace {

void OpenVideoEncoder(ArchiveVideo::State& s) {
  const AVCodec* ffv1 = avcodec_find_encoder(AV_CODEC_ID_FFV1);
  if (ffv1 == nullptr)
    throw CliError("this FFmpeg has no FFV1 encoder, so no archival copy can be made (use .mp4)");
  const int rc = s.video.Open(*ffv1, [&](AVCodecContext& c) {
    c.width = kPictureWidth;
    c.height = kPictureHeight;
    // Packed 8-bit RGB, which FFV1 keeps exactly.
    c.pix_fmt = AV_PIX_FMT_0RGB32;
    c.sample_aspect_ratio = kPixelShape;
    c.time_base = AVRational{1, kFramesPerSecond};
    c.framerate = AVRational{kFramesPerSecond, 1};
    c.gop_size = 1;
    c.thread_count = 0;  // slices on every core; the library default is one
    if (s.muxer->global_header()) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    av_opt_set(c.priv_data, "level", "3", 0);
    av_opt_set(c.priv_data, "slicecrc", "1", 0);
  });
  if (rc < 0) throw CliError("the FFV1 encoder cannot be opened (" + AvErrorText(rc) + ")");
}

void SetUpStreams(ArchiveVideo::State& s) {
  AVStream& video = s.muxer->AddStream(s.video);
  AVStream& audio = s.muxer->AddStream();
  video.sample_aspect_ratio = kPixelShape;
  video.avg_frame_rate = AVRational{kFramesPerSecond, 1};
  AVCodecParameters* a = audio.codecpar;
  a->codec_type = AVMEDIA_TYPE_AUDIO;
  a->codec_id = AV_CODEC_ID_PCM_U8;
  a->sample_rate = kSoundSampleRate;
  av_channel_layout_default(&a->ch_layout, kSoundChannels);
  a->bits_per_coded_sample = kSoundBitsPerSample;
  a->block_align = kSoundChannels;
  audio.time_base = AVRational{1, kSoundSampleRate};
  s.video_stream = &video;
  s.audio_stream = &audio;
  s.picture = MakeFrame();
  s.picture->format = s.video.context().pix_fmt;
  s.picture->width = kPictureWidth;
  s.picture->height = kPictureHeight;
  if (av_frame_get_buffer(s.picture.get(), 0) < 0)
    throw CliError("out of memory for the pictures of " + s.path);
}

void AddPicture(ArchiveVideo::State& s, const uint8_t* rgb) {
  if (av_frame_make_writable(s.picture.get()) < 0)
    throw CliError("out of memory for the pictures of " + s.path);
  for (int y = 0; y < kPictureHeight; ++y) {
    auto* row = reinterpret_cast<uint32_t*>(s.picture->data[0] + y * s.picture->linesize[0]);
    const uint8_t* in = rgb + y * kPictureWidth * 3;
    for (int x = 0; x < kPictureWidth; ++x, in += 3) {
      row[x] = (uint32_t{in[0]} << 16) | (uint32_t{in[1]} << 8) | in[2];
    }
  }
  s.picture->pts = s.records;
  s.muxer->Encode(s.video, *s.video_stream, s.picture.get());
}

// The sound as the tracks hold it: no codec, one packet a record.
void AddSound(ArchiveVideo::State& s, const uint8_t* sound) {
  PacketPtr audio = NewPacket();
  if (audio == nullptr || av_new_packet(audio.get(), kAudioChunkSize) < 0)
    throw CliError("out of memory for the sound of " + s.path);
  std::memcpy(audio->data, sound, kAudioChunkSize);
  audio->pts = audio->dts = s.records * kPairsPerRecord;
  audio->duration = kPairsPerRecord;
  s.muxer->Write(*audio, *s.audio_stream, AVRational{1, kSoundSampleRate});
}

}  // namespace

ArchiveVideo::ArchiveVideo(std::unique_ptr<State> state) : state_(std::move(state)) {}
ArchiveVideo::~ArchiveVideo() = default;

std::unique_ptr<ArchiveVideo> ArchiveVideo::Create(const std::string& path, std::string* error) {
  auto s = std::make_unique<State>();
  s->path = path;
  const bool made = Attempt(
      [&] {
        s->muxer = Muxer::For(path, "matroska");
        if (s->muxer == nullptr) throw CliError("this FFmpeg cannot write Matroska files");
        OpenVideoEncoder(*s);
        SetUpStreams(*s);
        s->muxer->Begin();
      },
      error);
  return made ? std::unique_ptr<ArchiveVideo>(new ArchiveVideo(std::move(s))) : nullptr;
}

void ArchiveVideo::BeginChapter(const std::string& title) {
  state_->chapters.push_back(VideoChapter{state_->records, title});
}

bool ArchiveVideo::AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) {
  State& s = *state_;
  return Attempt(
      [&] {
        AddPicture(s, rgb);
        AddSound(s, sound);
        ++s.records;
      },
      error);
}

bool ArchiveVideo::Finish(std::string* error) {
  State& s = *state_;
  return Attempt(
      [&] {
        s.muxer->Encode(s.video, *s.video_stream, nullptr);
        s.muxer->Finish(s.chapters, s.records);
      },
      error);
}

}  // namespace trackloom::cli::ffmpeg
