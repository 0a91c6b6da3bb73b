// trackloom inspect and trackloom decode run as a user runs them: their exit status,
// what they print and the bytes of the files they write.
#include <gtest/gtest.h>
#include <png.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

#include "cli/common/interrupt.h"
#include "cli/commands/track_tools.h"
#include "tests/support/temp_dir.h"
#include "tests/track_test_support.h"

namespace trackloom::cli {
namespace {

using testing::FileExists;
using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

struct CommandRun {
  int status;
  std::string out;
  std::string err;
};

std::string Slurp(std::FILE* f) {
  std::string text;
  std::rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  std::fclose(f);
  return text;
}

CommandRun Command(int (*main)(int, char**, Reporter), std::initializer_list<std::string> args) {
  std::vector<std::string> words(args);
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int status = main(static_cast<int>(words.size()), argv.data(), {out, err});
  return {status, Slurp(out), Slurp(err)};
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

struct Png {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
};

Png ReadPng(const std::string& path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  Png png;
  if (!png_image_begin_read_from_file(&image, path.c_str())) {
    ADD_FAILURE() << path << ": " << image.message;
    return png;
  }
  image.format = PNG_FORMAT_RGB;
  png.width = static_cast<int>(image.width);
  png.height = static_cast<int>(image.height);
  png.rgb.resize(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr)) {
    ADD_FAILURE() << path << ": " << image.message;
  }
  return png;
}

// Three records with sound, written by the core.
struct Track {
  TempDir dir;
  std::vector<uint8_t> samples = track_test::SoundRamp(3 * 1960);
  std::string path = track_test::WriteCoreTrack(dir, 3, &samples);
};

TEST(TrackCommands, InspectExitStatusAndReport) {
  Track track;
  const std::vector<uint8_t> good = ReadFileBytes(track.path);
  std::vector<uint8_t> bad = good;
  bad[2092 + 19600 + 5] ^= 0x40;
  const std::string damaged = track.dir.File("damaged.wav");
  WriteFileBytes(damaged, bad);
  std::vector<uint8_t> foreign(good.begin(), good.begin() + 44);
  foreign.resize(44 + 588, 0);
  foreign.insert(foreign.end(), good.begin() + 2092, good.end());
  for (int i = 0; i < 4; ++i) {
    foreign[4 + static_cast<size_t>(i)] = static_cast<uint8_t>((foreign.size() - 8) >> (8 * i));
    foreign[40 + static_cast<size_t>(i)] = static_cast<uint8_t>((foreign.size() - 44) >> (8 * i));
  }
  const std::string other = track.dir.File("other encoder.wav");
  WriteFileBytes(other, foreign);
  const std::string missing = track.dir.File("missing.wav");
  // As a track split out of a disc image leaves it: its last sector filled up with zeros.
  std::vector<uint8_t> split = good;
  split.resize(split.size() + 304, 0);
  for (int i = 0; i < 4; ++i) {
    split[4 + static_cast<size_t>(i)] = static_cast<uint8_t>((split.size() - 8) >> (8 * i));
    split[40 + static_cast<size_t>(i)] = static_cast<uint8_t>((split.size() - 44) >> (8 * i));
  }
  const std::string padded = track.dir.File("split02.wav");
  WriteFileBytes(padded, split);
  const std::string sheet = track.dir.File("escape.cue");
  const std::string text = "FILE \"a\x1b[2Jb.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  WriteFileBytes(sheet, std::vector<uint8_t>(text.begin(), text.end()));

  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* out;  // part of standard output
    const char* err;  // part of standard error
  };
  const Case cases[] = {
      {"valid track", {track.path}, 0, "VDN Track 01.wav: valid track\n  length       60892 bytes", ""},
      {"summary lines", {track.path}, 0, "  records      3 from offset 2092, 19600 bytes each\n", ""},
      {"durations", {track.path}, 0, "  video        3 frames, 0:00.17 at 18 fps\n  disc time    0:00.34 of CD time", ""},
      {"sound", {track.path}, 0, "  audio        sound in 3 of 3 records (the first is record 0)", ""},
      {"flipped header byte", {damaged}, 1,
       "damaged.wav: 1 problem\n", ""},
      {"its offset", {damaged}, 1,
       "    offset 21697: record 1: the record header differs from the template in 1 data byte; "
       "header byte 5 is 0xC1, expected 0x81\n", ""},
      {"foreign lead-in", {other}, 1, "offset 44: the lead-in is 588 bytes, expected 2048", ""},
      {"foreign lead-in, lenient", {"--lenient", other}, 0, "  lead-in      588 bytes at offset 44, all 0x00", ""},
      {"valid and damaged", {track.path, damaged}, 1, "valid track", ""},
      {"a file that cannot be read", {track.path, missing, damaged}, 2, "damaged.wav: 1 problem",
       "missing.wav: cannot open: No such file or directory"},
      {"a directory", {track.dir.path()}, 2, "", "it is a directory"},
      {"sector padding", {padded}, 0, "split02.wav: valid track", ""},
      {"sector padding noted", {padded}, 0, "then 304 zero bytes of sector padding (split out of a disc image)", ""},
      {"sector padding in json", {"--json", padded}, 0, "\"bad_record_headers\": 0, \"padding_bytes\": 304", ""},
      {"a sheet naming a file with control characters", {sheet}, 2, "", "/a\\x1b[2Jb.bin': No such file"},
      {"json", {"--json", track.path, damaged},  1,
       "\"records\": 3, \"partial_record_bytes\": 0, \"bad_record_headers\": 0", ""},
      {"json problems", {"--json", damaged}, 1,
       "\"problem_count\": 1, \"problems\": [{\"offset\": 21697, \"what\": \"record 1: ", ""},
      {"json unreadable", {"--json", missing}, 2, "\"readable\": false, \"error\": \"cannot open: ", ""},
      {"no file", {}, 2, "", "no track file given"},
      {"unknown option", {"--fast", track.path}, 2, "", "unknown option '--fast'"},
      {"help", {"--help"}, 0, "Exit status: 0 done (every track valid)", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words{"inspect"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const int status = InspectMain(static_cast<int>(words.size()), argv.data(), {out, err});
    const std::string out_text = Slurp(out);
    const std::string err_text = Slurp(err);
    EXPECT_EQ(status, c.status) << out_text << err_text;
    EXPECT_TRUE(Contains(out_text, c.out)) << out_text;
    EXPECT_TRUE(Contains(err_text, c.err)) << err_text;
  }
}

TEST(TrackCommands, DecodeWritesEveryPictureAndTheSoundBitForBit) {
  Track track;
  const std::string out = track.dir.File("decoded");
  const CommandRun run = Command(DecodeMain, {"decode", track.path, "-o", out});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err, "");
  EXPECT_TRUE(Contains(run.out, "records 0-2 (3, 0:00.17 at 18 fps)")) << run.out;
  for (int k = 0; k < 3; ++k) {
    const Png png = ReadPng(out + "/record-0000" + std::to_string(k) + ".png");
    EXPECT_EQ(png.width, 144);
    EXPECT_EQ(png.height, 80);
    EXPECT_EQ(png.rgb, track_test::QuantisedPicture(k)) << "record " << k;
  }
  EXPECT_FALSE(FileExists(out + "/record-00003.png"));
  // The same bytes as the sound file the track was made from: fed back, it gives the same track.
  EXPECT_EQ(ReadFileBytes(out + "/sound.wav"), testing::MakeWav(17640, 8, 2, track.samples));

  const CommandRun json = Command(DecodeMain, {"decode", "--json", track.path, "-o", out, "--no-pictures"});
  ASSERT_EQ(json.status, 0) << json.err;
  EXPECT_EQ(json.out, "{\"track\": \"" + track.path +
                          "\", \"problems\": 0, \"first_record\": 0, \"last_record\": 2, \"records\": 3, "
                          "\"video_seconds\": 0.167, \"pictures\": null, \"sound\": {\"file\": \"" +
                          out + "/sound.wav\", \"bytes\": 5880}, \"sheet\": null, \"video\": null}\n");
}

TEST(TrackCommands, DecodeRangesScaleAndSheet) {
  Track track;
  const std::string out = track.dir.File("decoded");

  const CommandRun range = Command(DecodeMain, {"decode", track.path, "--frames", "1-", "-o", out, "--scale", "3"});
  ASSERT_EQ(range.status, 0) << range.err;
  EXPECT_FALSE(FileExists(out + "/record-00000.png"));
  const Png big = ReadPng(out + "/record-00002.png");
  ASSERT_EQ(big.width, 432);
  ASSERT_EQ(big.height, 240);
  const std::vector<uint8_t> small = track_test::QuantisedPicture(2);
  bool same = true;
  for (int y = 0; y < 240 && same; ++y) {
    for (int x = 0; x < 432 && same; ++x) {
      same = std::memcmp(&big.rgb[static_cast<size_t>((y * 432 + x) * 3)],
                         &small[static_cast<size_t>(((y / 3) * 144 + x / 3) * 3)], 3) == 0;
    }
  }
  EXPECT_TRUE(same) << "the enlarged picture is not the picture's pixels repeated 3 x 3";
  std::vector<uint8_t> tail(track.samples.begin() + 1960, track.samples.end());
  EXPECT_EQ(ReadFileBytes(out + "/sound.wav"), testing::MakeWav(17640, 8, 2, tail));

  // A sheet may go into the output directory decode creates.
  const std::string fresh = track.dir.File("fresh");
  const CommandRun inside = Command(DecodeMain, {"decode", track.path, "-o", fresh, "--sheet", fresh + "/sheet.png"});
  EXPECT_EQ(inside.status, 0) << inside.err;
  EXPECT_TRUE(FileExists(fresh + "/sheet.png"));

  // A sheet alone needs no output directory.
  const std::string sheet_path = track.dir.File("sheet.png");
  const CommandRun sheet = Command(DecodeMain, {"decode", track.path, "--sheet", sheet_path, "--frames", "1-2"});
  ASSERT_EQ(sheet.status, 0) << sheet.err;
  const Png png = ReadPng(sheet_path);
  // Two cells of 144 x (108 + 16), the screen's 4:3, with 6-pixel margins; each row
  // of a cell is the stored row under its centre.
  ASSERT_EQ(png.width, 6 + 2 * (144 + 6));
  ASSERT_EQ(png.height, 6 + 124 + 6);
  const std::vector<uint8_t> second = track_test::QuantisedPicture(2);
  for (int row = 0; row < 108; ++row) {
    ASSERT_EQ(std::memcmp(&png.rgb[static_cast<size_t>(((6 + row) * png.width + 156) * 3)],
                          &second[static_cast<size_t>((2 * row + 1) * 80 / 216 * 144 * 3)], 144 * 3),
              0)
        << "row " << row << " of the second cell";
  }
  // The label under the first cell ("1") is drawn in light ink on the dark ground.
  int ink = 0;
  for (int y = 114; y < 130; ++y) {
    for (int x = 6; x < 30; ++x) ink += png.rgb[static_cast<size_t>((y * png.width + x) * 3)] == 0xE0;
  }
  EXPECT_EQ(ink, 8 * 4) << "the digit 1 has 8 pixels, drawn 2 x 2";

  // Other formats by the name's extension: the same picture once decoded by ffmpeg,
  // JPEG within a small average error.
  const struct {
    const char* extension;
    std::string magic;
    double mean_error;
  } formats[] = {{"JPG", "\xFF\xD8\xFF", 4}, {"bmp", "BM", 0}, {"tif", "II*", 0}, {"webp", "RIFF", 0}, {"ppm", "P6", 0}};
  for (const auto& f : formats) {
    SCOPED_TRACE(f.extension);
    const std::string path = track.dir.File(std::string("sheet.") + f.extension);
    ASSERT_EQ(Command(DecodeMain, {"decode", track.path, "--sheet", path, "--frames", "1-2"}).status, 0);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + static_cast<long>(f.magic.size())), f.magic);
    std::FILE* pipe = popen(("ffmpeg -v error -i '" + path + "' -f rawvideo -pix_fmt rgb24 -").c_str(), "r");
    std::vector<uint8_t> rgb(png.rgb.size() + 1);
    rgb.resize(std::fread(rgb.data(), 1, rgb.size(), pipe));
    pclose(pipe);
    ASSERT_EQ(rgb.size(), png.rgb.size());
    double error = 0;
    for (size_t i = 0; i < rgb.size(); ++i) error += std::abs(rgb[i] - png.rgb[i]);
    EXPECT_LE(error / static_cast<double>(rgb.size()), f.mean_error);
  }
}

// The panel view: the dot grid at 4:3, two screen pixels a dot, odd dot rows half a
// dot to the left; each dot lit in its own colour only, at its component's level.
TEST(TrackCommands, DecodePanelViewShowsTheDots) {
  Track track;
  const std::string out = track.dir.File("panel");
  const CommandRun run = Command(DecodeMain, {"decode", track.path, "-o", out, "--view", "panel", "--frames", "1"});
  ASSERT_EQ(run.status, 0) << run.err;
  const Png png = ReadPng(out + "/record-00001.png");
  ASSERT_EQ(png.width, 432);
  ASSERT_EQ(png.height, 324);
  const std::vector<uint8_t> picture = track_test::QuantisedPicture(1);
  struct Case {
    int dot_x, dot_y;
    int column, component;  // of the picture row dot_y / 2
  };
  const Case cases[] = {
      {0, 0, 0, 0}, {1, 0, 1, 1}, {2, 0, 1, 2}, {0, 1, 0, 1}, {1, 1, 0, 2}, {2, 1, 1, 0}, {214, 159, 142, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("dot " + std::to_string(c.dot_x) + "," + std::to_string(c.dot_y));
    const int x = 2 * c.dot_x + 1 - (c.dot_y % 2);
    const int y = (2 * c.dot_y + 1) * 324 / 320;
    const uint8_t* shown = &png.rgb[static_cast<size_t>((y * 432 + x) * 3)];
    for (int k = 0; k < 3; ++k) {
      const int expected =
          k == c.component ? picture[static_cast<size_t>(((c.dot_y / 2) * 144 + c.column) * 3 + k)] : 0;
      EXPECT_EQ(shown[k], expected) << "component " << k;
    }
  }
}

TEST(TrackCommands, DecodePreviewVideoHasOneFramePerRecordAndSound) {
  Track track;
  const std::string video = track.dir.File("preview.mp4");
  const CommandRun run = Command(DecodeMain, {"decode", track.path, "--video", video, "--scale", "2"});
  if (avcodec_find_encoder_by_name("libx264") == nullptr) {
    EXPECT_EQ(run.status, 1);
    EXPECT_TRUE(Contains(run.err, "no H.264 encoder")) << run.err;
    GTEST_SKIP() << "this FFmpeg has no libx264";
  }
  ASSERT_EQ(run.status, 0) << run.err;

  AVFormatContext* format = nullptr;
  ASSERT_EQ(avformat_open_input(&format, video.c_str(), nullptr, nullptr), 0);
  ASSERT_GE(avformat_find_stream_info(format, nullptr), 0);
  int video_packets = 0;
  int audio_packets = 0;
  AVCodecID codecs[2] = {AV_CODEC_ID_NONE, AV_CODEC_ID_NONE};
  for (unsigned i = 0; i < format->nb_streams && i < 2; ++i) codecs[i] = format->streams[i]->codecpar->codec_id;
  EXPECT_EQ(codecs[0], AV_CODEC_ID_H264);
  EXPECT_EQ(codecs[1], AV_CODEC_ID_AAC);
  EXPECT_EQ(format->streams[0]->codecpar->width, 288);
  EXPECT_EQ(format->streams[0]->codecpar->height, 216);  // the screen's 4:3
  AVPacket* packet = av_packet_alloc();
  while (av_read_frame(format, packet) >= 0) {
    (format->streams[packet->stream_index]->codecpar->codec_type == AVMEDIA_TYPE_VIDEO ? video_packets
                                                                                      : audio_packets)++;
    av_packet_unref(packet);
  }
  av_packet_free(&packet);
  avformat_close_input(&format);
  EXPECT_EQ(video_packets, 3);
  EXPECT_GE(audio_packets, 3 * 2450 / 1024);  // 1/6 s at 44100 Hz, 1024 samples a packet
}

TEST(TrackCommands, DecodeRefusesWhatItCannotDo) {
  Track track;
  const std::string garbage = track.dir.File("garbage.wav");
  WriteFileBytes(garbage, std::vector<uint8_t>(5000, 0x42));
  const std::string out = track.dir.File("out");
  const std::string escaped = track.dir.File("e\x1b[2J.wav");
  WriteFileBytes(escaped, ReadFileBytes(track.path));
  struct Case {
    const char* name;
    std::vector<std::string> args;
    int status;
    const char* err;
  };
  const Case cases[] = {
      {"no output", {track.path}, 2, "say where the pictures and sound go with -o DIR"},
      {"no track", {"-o", out}, 2, "no track file given"},
      {"two tracks", {track.path, track.path, "-o", out}, 2, "one track at a time"},
      {"range past the end", {track.path, "-o", out, "--frames", "3-9"}, 2, "has records 0-2; --frames starts after them"},
      {"a name with escape codes", {escaped, "-o", out, "--frames", "3-9"}, 2, "e\\x1b[2J.wav has records 0-2"},
      {"range backwards", {track.path, "-o", out, "--frames", "2-1"}, 2, "--frames takes record numbers"},
      {"range not a number", {track.path, "-o", out, "--frames", "a-b"}, 2, "--frames takes record numbers"},
      {"scale 0", {track.path, "-o", out, "--scale", "0"}, 2, "--scale takes a whole number from 1 to 16"},
      {"scale missing", {track.path, "-o", out, "--scale"}, 2, "--scale needs a value"},
      {"sheet in a missing directory", {track.path, "--sheet", out + "/none/sheet.png"}, 1,
       "cannot write the sheet"},
      {"sheet too big", {track.path, "--sheet", out + ".png", "--sheet-limit", "2001"}, 2,
       "--sheet-limit takes a number from 1 to 2000"},
      {"nothing to write", {track.path, "-o", out, "--no-pictures", "--no-sound"}, 2, "nothing to write"},
      {"missing file", {track.dir.File("nope.wav"), "-o", out}, 2, "cannot open"},
      {"not a track", {garbage, "-o", out}, 1, "holds no whole record to decode"},
      {"unwritable directory", {track.path, "-o", track.path + "/sub"}, 1, "cannot create the directory"},
      {"unknown container", {track.path, "--video", track.dir.File("x.unknownext")}, 2,
       "--video takes a file name ending in .3g2, .3gp"},
      {"video as a picture", {track.path, "--video", track.dir.File("x.png")}, 2, "(a container for H.264 and AAC)"},
      {"sheet as a GIF", {track.path, "--sheet", track.dir.File("s.gif")}, 2,
       "--sheet takes a picture file name ending in .png, .jpg"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> words{"decode"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::FILE* outf = std::tmpfile();
    std::FILE* errf = std::tmpfile();
    const int status = DecodeMain(static_cast<int>(words.size()), argv.data(), {outf, errf});
    Slurp(outf);
    const std::string err = Slurp(errf);
    EXPECT_EQ(status, c.status) << err;
    EXPECT_TRUE(Contains(err, c.err)) << err;
  }
  EXPECT_FALSE(FileExists(track.dir.File("x.unknownext")));
}

TEST(TrackCommands, DecodeOfADamagedTrackWarnsAndKeepsItsWholeRecords) {
  Track track;
  std::vector<uint8_t> bytes = ReadFileBytes(track.path);
  bytes.resize(bytes.size() - 7000);  // the last record is cut off
  const std::string cut = track.dir.File("cut.wav");
  WriteFileBytes(cut, bytes);
  const std::string out = track.dir.File("out");
  const CommandRun run = Command(DecodeMain, {"decode", cut, "-o", out});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(Contains(run.err, "warning: " + cut + " has 3 problems")) << run.err;
  EXPECT_TRUE(Contains(run.err, "decoding its 2 whole records")) << run.err;
  EXPECT_TRUE(FileExists(out + "/record-00001.png"));
  EXPECT_FALSE(FileExists(out + "/record-00002.png"));
  std::vector<uint8_t> head(track.samples.begin(), track.samples.begin() + 2 * 1960);
  EXPECT_EQ(ReadFileBytes(out + "/sound.wav"), testing::MakeWav(17640, 8, 2, head));
}

// Ctrl-C during the check that comes before any output: a long scan (a disc track of
// ten minutes, a track of 60 records) gives up, and nothing is written or reported.
TEST(TrackCommands, ScansStopAtCtrlC) {
  Track track;
  const std::string sheet = track.dir.File("silence.toc");
  const std::string text = "CD_DA\nTRACK AUDIO\nSILENCE 10:00:00\n";
  WriteFileBytes(sheet, std::vector<uint8_t>(text.begin(), text.end()));
  const TempDir long_dir;
  const std::string long_track = track_test::WriteCoreTrack(long_dir, 60, nullptr);
  const std::string out = track.dir.File("out");
  struct Case {
    const char* name;
    int (*main)(int, char**, Reporter);
    std::initializer_list<std::string> args;
    const char* err;
  };
  const Case cases[] = {
      {"inspect, disc image", InspectMain, {"inspect", track.path, sheet}, "interrupted while checking "},
      {"inspect, track file", InspectMain, {"inspect", "--json", long_track}, "interrupted while checking "},
      {"decode, disc image", DecodeMain, {"decode", sheet, "--track", "1", "-o", out}, "interrupted while reading "},
      {"decode, track file", DecodeMain, {"decode", long_track, "-o", out}, "; nothing was written"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    InstallInterruptHandlers();
    std::raise(SIGINT);
    const CommandRun run = Command(c.main, c.args);
    ResetInterruptForTesting();
    EXPECT_EQ(run.status, 130) << run.err;
    EXPECT_TRUE(Contains(run.err, c.err)) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_FALSE(Contains(run.out, "silence") || Contains(run.out, "\"records\": 60")) << run.out;
    EXPECT_FALSE(FileExists(out));
  }
}

TEST(TrackCommands, DecodeStoppedByCtrlCCompletesWhatItWrote) {
  Track track;
  const std::string out = track.dir.File("out");
  const std::string sheet = track.dir.File("sheet.png");
  // The signal arrives before the first record is done: decode stops after it.
  InstallInterruptHandlers();
  std::raise(SIGINT);
  const CommandRun run = Command(DecodeMain, {"decode", track.path, "-o", out, "--sheet", sheet});
  ResetInterruptForTesting();
  EXPECT_EQ(run.status, 130);
  EXPECT_TRUE(Contains(run.err, "stopped after 1 of 3 records; the files written so far are complete")) << run.err;
  EXPECT_EQ(ReadPng(out + "/record-00000.png").rgb, track_test::QuantisedPicture(0));
  EXPECT_FALSE(FileExists(out + "/record-00001.png"));
  std::vector<uint8_t> first(track.samples.begin(), track.samples.begin() + 1960);
  EXPECT_EQ(ReadFileBytes(out + "/sound.wav"), testing::MakeWav(17640, 8, 2, first));
  EXPECT_EQ(ReadPng(sheet).width, 6 + 3 * (144 + 6));
}

}  // namespace
}  // namespace trackloom::cli
