// The command's FFmpeg room on its own: picture fitting and its filter chain, the
// sound file check, and the encoder and muxer that write video files.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/ffmpeg/decoder.h"
#include "cli/ffmpeg/encoder.h"
#include "cli/ffmpeg/muxer.h"
#include "cli/ffmpeg/picture_shaping.h"
#include "cli/ffmpeg/sound_length.h"
#include "cli/tracks/sound_wav_writer.h"
#include "tests/support/temp_dir.h"

namespace trackloom::cli {
namespace {

using trackloom::testing::FileExists;
using trackloom::testing::MakeWav;
using trackloom::testing::TempDir;
using trackloom::testing::WriteFileBytes;

TEST(CliUnits, FitGeometryAndFilterChain) {
  struct Case {
    ffmpeg::Fit fit;
    int width, height, sar_num, sar_den;
    ffmpeg::FitGeometry expected;
  };
  // The screen is 4:3 over 144 x 80 stored pixels.
  const Case cases[] = {
      {ffmpeg::Fit::kLetterbox, 1920, 1080, 1, 1, {144, 60, 0, 10}},  // 16:9: bands above and below
      {ffmpeg::Fit::kLetterbox, 640, 480, 1, 1, {144, 80, 0, 0}},
      {ffmpeg::Fit::kLetterbox, 1080, 1920, 1, 1, {61, 80, 41, 0}},  // portrait
      {ffmpeg::Fit::kLetterbox, 144, 80, 1, 1, {144, 59, 0, 10}},  // 9:5 in square pixels is wider than 4:3
      {ffmpeg::Fit::kLetterbox, 720, 480, 32, 27, {144, 60, 0, 10}},  // anamorphic 16:9
      {ffmpeg::Fit::kLetterbox, 720, 480, 8, 9, {144, 80, 0, 0}},     // anamorphic 4:3
      {ffmpeg::Fit::kCrop, 1920, 1080, 1, 1, {192, 80, 24, 0}},
      {ffmpeg::Fit::kCrop, 1080, 1920, 1, 1, {144, 190, 0, 55}},
      {ffmpeg::Fit::kStretch, 1920, 1080, 1, 1, {144, 80, 0, 0}},
      {ffmpeg::Fit::kLetterbox, 640, 480, 0, 1, {144, 80, 0, 0}},  // unknown aspect: square pixels
  };
  for (const Case& c : cases) {
    const ffmpeg::FitGeometry g = ffmpeg::ComputeFitGeometry(c.fit, c.width, c.height, c.sar_num, c.sar_den);
    EXPECT_EQ(g.scaled_width, c.expected.scaled_width) << c.width << "x" << c.height;
    EXPECT_EQ(g.scaled_height, c.expected.scaled_height) << c.width << "x" << c.height;
    EXPECT_EQ(g.offset_x, c.expected.offset_x) << c.width << "x" << c.height;
    EXPECT_EQ(g.offset_y, c.expected.offset_y) << c.width << "x" << c.height;
  }
  EXPECT_EQ(ffmpeg::BuildFilterChain(ffmpeg::Fit::kLetterbox, 640, 480, 1, 1),
            "fps=18:start_time=0,scale=144:80:flags=area,format=bgra,setsar=1");
  EXPECT_EQ(ffmpeg::BuildFilterChain(ffmpeg::Fit::kLetterbox, 1920, 1080, 1, 1),
            "fps=18:start_time=0,scale=144:60:flags=area,format=bgra,pad=144:80:0:10:black,setsar=1");
  // A phone's upright video stored sideways: scaled first, then turned.
  EXPECT_EQ(ffmpeg::BuildFilterChain(ffmpeg::Fit::kLetterbox, 1920, 1080, 1, 1, {1}),
            "fps=18:start_time=0,scale=80:61:flags=area,format=bgra,transpose=clock,pad=144:80:41:0:black,"
            "setsar=1");
  // Subpixel sampling: the same placement on the half-dot cells, 3 x 2 a stored pixel.
  EXPECT_EQ(ffmpeg::BuildFilterChain(ffmpeg::Fit::kLetterbox, 1920, 1080, 1, 1, {}, "format=bgra", Sampling::kSubpixel),
            "fps=18:start_time=0,scale=432:120:flags=area,format=bgra,pad=432:160:0:20:black,setsar=1");
  EXPECT_EQ(ffmpeg::DescribeShaping(ffmpeg::Fit::kLetterbox, 1920, 1080, 1, 1, {}), "16:9 picture letterboxed into the 4:3 screen");
  EXPECT_EQ(ffmpeg::DescribeShaping(ffmpeg::Fit::kCrop, 720, 480, 1, 1, {3}),
            "2:3 picture (turned anticlockwise) cropped to fill the 4:3 screen");
  ffmpeg::Fit fit = ffmpeg::Fit::kStretch;
  EXPECT_TRUE(ffmpeg::ParseFit("crop", fit));
  EXPECT_EQ(fit, ffmpeg::Fit::kCrop);
  EXPECT_FALSE(ffmpeg::ParseFit("Crop", fit));
}

TEST(CliUnits, TrackAudioCheckMatchesTheFiltersHeaderRules) {
  TempDir dir;
  const std::vector<uint8_t> samples(100, 0x80);
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    bool accepted;
  };
  const std::vector<uint8_t> good = MakeWav(17640, 8, 2, samples);
  std::vector<uint8_t> odd_sizes = MakeWav(17640, 8, 2, samples);
  odd_sizes[4] = 0x77;  // the RIFF size, byte rate and alignment are not examined
  odd_sizes[28] = odd_sizes[32] = 0x01;
  std::vector<uint8_t> unfinished = MakeWav(17640, 8, 2, samples);
  unfinished[40] = 0;  // data size 0: the samples run to the end
  std::vector<uint8_t> longer_data = MakeWav(17640, 8, 2, samples);
  longer_data[41] = 0x10;  // more declared than there is: the file simply ends early
  std::vector<uint8_t> trailing = MakeWav(17640, 8, 2, samples);
  trailing.insert(trailing.end(), {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'});
  std::vector<uint8_t> adpcm = MakeWav(17640, 8, 2, samples);
  adpcm[20] = 2;
  std::vector<uint8_t> list_chunk = MakeWav(17640, 8, 2, samples);
  std::memcpy(&list_chunk[36], "LIST", 4);
  const Case cases[] = {
      {"good", MakeWav(17640, 8, 2, samples), true},
      {"sizes", odd_sizes, true},
      {"unfinished", unfinished, true},
      {"longer data", longer_data, true},
      {"trailing chunk", trailing, false},  // its bytes would play as noise
      {"44100", MakeWav(44100, 8, 2, samples), false},
      {"mono", MakeWav(17640, 8, 1, samples), false},
      {"16bit", MakeWav(17640, 16, 2, samples), false},
      {"adpcm", adpcm, false},
      {"list", list_chunk, false},
      {"short", std::vector<uint8_t>(good.begin(), good.begin() + 43), false},
  };
  for (const Case& c : cases) {
    WriteFileBytes(dir.File(c.name), c.bytes);
    EXPECT_EQ(ffmpeg::IsTrackAudioWav(dir.File(c.name)), c.accepted) << c.name;
  }
  EXPECT_FALSE(ffmpeg::IsTrackAudioWav(dir.File("missing")));
  uint8_t header[kWaveHeaderSize];
  MakeSoundWavHeader(35280, header);
  const std::vector<uint8_t> one_second = MakeWav(17640, 8, 2, std::vector<uint8_t>(35280));
  EXPECT_EQ(std::vector<uint8_t>(header, header + kWaveHeaderSize),
            std::vector<uint8_t>(one_second.begin(), one_second.begin() + kWaveHeaderSize));
}

// Writes five pictures of 16 x 8, each of one shade, through FFV1 into path, and with
// finish two chapters and the trailer; the text of the CliError met on the way.
std::string WriteShades(const std::string& path, bool finish) {
  const std::unique_ptr<ffmpeg::Muxer> muxer = ffmpeg::Muxer::For(path, "matroska");
  ffmpeg::Encoder encoder("encoding failed");
  const int opened = encoder.Open(*avcodec_find_encoder(AV_CODEC_ID_FFV1), [&](AVCodecContext& c) {
    c.width = 16;
    c.height = 8;
    c.pix_fmt = AV_PIX_FMT_0RGB32;
    c.time_base = AVRational{1, 18};
    if (muxer->global_header()) c.flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  });
  ffmpeg::FramePtr frame = ffmpeg::MakeFrame();
  frame->format = AV_PIX_FMT_0RGB32;
  frame->width = 16;
  frame->height = 8;
  if (opened < 0 || av_frame_get_buffer(frame.get(), 0) < 0) return "not opened";
  try {
    const AVStream& stream = muxer->AddStream(encoder);
    muxer->Begin();
    for (frame->pts = 0; frame->pts < 5 && av_frame_make_writable(frame.get()) == 0; ++frame->pts) {
      std::memset(frame->data[0], static_cast<int>(frame->pts) * 10, static_cast<size_t>(frame->linesize[0]) * 8);
      muxer->Encode(encoder, stream, frame.get());
    }
    muxer->Encode(encoder, stream, nullptr);
    if (finish) muxer->Finish({{0, "one"}, {2, "two"}}, 5);
  } catch (const CliError& e) {
    return e.what();
  }
  return "";
}

// How many chapters path has, then the first byte of each of its pictures ("2: 0 10");
// empty when it cannot be read.
std::string ReadShades(const std::string& path) {
  ffmpeg::InputFormatPtr format;
  if (ffmpeg::OpenInputFormat(path, nullptr, &format) < 0 || avformat_find_stream_info(format.get(), nullptr) < 0) return "";
  std::string read = std::to_string(format->nb_chapters) + ":";
  ffmpeg::Decoder decoder;
  const AVStream& stream = *format->streams[0];
  if (decoder.Open(stream, *avcodec_find_decoder(stream.codecpar->codec_id)) < 0) return "no decoder";
  ffmpeg::PacketPtr packet = ffmpeg::MakePacket();
  ffmpeg::FramePtr frame = ffmpeg::MakeFrame();
  while (!decoder.finished()) {
    if (av_read_frame(format.get(), packet.get()) < 0) decoder.Finish();
    else decoder.Send(*packet);
    av_packet_unref(packet.get());
    while (decoder.Receive(frame.get()) == 0) read += " " + std::to_string(frame->data[0][0]);
  }
  return read;
}

TEST(CliUnits, EncoderAndMuxerWriteAWholeFileOrNone) {
  TempDir dir;
  struct Case {
    std::string path;
    bool finish;
    std::string error;
    const char* read;  // what the file holds; "": no file is left
  };
  const Case cases[] = {
      {dir.File("finished.mkv"), true, "", "2: 0 10 20 30 40"},
      {dir.File("never-finished.mkv"), false, "", ""},
      {dir.File("missing/c.mkv"), true, "cannot create " + dir.File("missing/c.mkv") + ": the directory is gone", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(WriteShades(c.path, c.finish), c.error) << c.path;
    EXPECT_EQ(FileExists(c.path), *c.read != '\0') << c.path;
    EXPECT_EQ(ReadShades(c.path), c.read) << c.path;
  }
}

// A read deadline makes FFmpeg give a file up once it has passed, and only then: the
// same file reads whole without one, within one, and after one has ended.
TEST(CliUnits, ReadingGivesUpAtItsDeadline) {
  const TempDir dir;
  const std::string wav = dir.File("second.wav");
  WriteFileBytes(wav, MakeWav(17640, 8, 2, std::vector<uint8_t>(2 * 17640, 128)));
  const struct {
    const char* name;
    double deadline;  // seconds; negative for none
    bool read;
  } rows[] = {{"no deadline", -1, true}, {"one already passed", 0, false}, {"a minute", 60, true}};
  for (const auto& row : rows) {
    std::optional<ReadDeadline> deadline;
    if (row.deadline >= 0) deadline.emplace(row.deadline);
    bool read = true;
    try {
      EXPECT_NEAR(ffmpeg::SoundSeconds(wav), 1.0, 0.01) << row.name;
    } catch (const CliError&) {
      read = false;
    }
    EXPECT_EQ(read, row.read) << row.name;
    if (deadline) {
      EXPECT_EQ(deadline->passed(), !row.read) << row.name;
    }
  }
}

}  // namespace
}  // namespace trackloom::cli
