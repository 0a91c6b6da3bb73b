// The command's own parts: option values, picture fitting, progress text, the sound
// file check and the repair of a track cut short.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "cli/common/arguments.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/commands/encode_command.h"
#include "cli/common/progress.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/sound_wav_writer.h"
#include "cli/tracks/track_files.h"
#include "cli/ffmpeg/video_source.h"
#include "cli/pictures/level_choice.h"
#include "cli/pictures/panel_levels.h"
#include "cli/pictures/panel_view.h"
#include "cli/pictures/subpixel_sampling.h"
#include "cli/pictures/view_yuv.h"
#include "cli/tracks/track_reader.h"
#include "tests/support/temp_dir.h"

namespace trackloom::cli {
namespace {

using trackloom::testing::MakeWav;
using trackloom::testing::ReadFileBytes;
using trackloom::testing::ReadLe32;
using trackloom::testing::TempDir;
using trackloom::testing::WriteFileBytes;

TEST(CliUnits, TimesAndBreakLists) {
  struct TimeCase {
    const char* text;
    bool ok;
    double seconds;
  };
  const TimeCase times[] = {
      {"90", true, 90},        {"1:30", true, 90},      {"3:05.5", true, 185.5}, {"1:02:03", true, 3723},
      {"0.25", true, 0.25},    {"1:75", false, 0},      {"1:2:3:4", false, 0},   {"", false, 0},
      {"1:", false, 0},        {"a", false, 0},         {"1.5:00", false, 0},    {"-3", false, 0},
      {"1..2", false, 0},      {":30", false, 0},
  };
  for (const TimeCase& c : times) {
    double seconds = -1;
    EXPECT_EQ(ParseTime(c.text, seconds), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.text;
    }
  }
  struct ListCase {
    const char* text;
    const char* bad;  // the item refused; null: accepted
    std::vector<int> frames;
  };
  const ListCase lists[] = {
      {"100,250", nullptr, {100, 250}}, {"30;30 7", nullptr, {30, 30, 7}}, {"2147483647", nullptr, {2147483647}},
      {"-5,10", "-5", {}},              {"0,7", "0", {}},                  {"+4", "+4", {}},
      {"2147483648", "2147483648", {}}, {"4294967295", "4294967295", {}}, {"99999999999", "99999999999", {}},
      {"10x", "10x", {}},               {",", ",", {}},                    {"1e3", "1e3", {}},
  };
  for (const ListCase& c : lists) {
    std::vector<int> frames;
    const std::optional<std::string> bad = ReadBreakFrames(c.text, frames);
    EXPECT_EQ(bad.value_or("(none)"), c.bad ? c.bad : "(none)") << c.text;
    if (!c.bad) {
      EXPECT_EQ(frames, c.frames) << c.text;
    }
  }
  struct DecimalCase {
    const char* text;
    bool ok;
  };
  for (const DecimalCase& c : {DecimalCase{"80", true}, {"0.5", true}, {"74.", true}, {"1e3", false},
                               {"-3", false}, {"+3", false}, {"nan", false}, {"1.2.3", false}, {".", false}}) {
    double value = -1;
    EXPECT_EQ(ParseDecimal(c.text, 0, 1000, &value), c.ok) << c.text;
  }
  // Times on a frame boundary land on that frame despite binary fractions.
  EXPECT_EQ(FrameAtTime(1.5, 30), 45);
  EXPECT_EQ(FrameAtTime(0.1, 30), 3);
  EXPECT_EQ(FrameAtTime(185.5, 29.97), 5559);
  EXPECT_EQ(FrameAtTime(2.0 / 3.0, 18), 12);
  EXPECT_EQ(FrameAtTime(1e20, 30), INT64_MAX);  // refused as too far in, not wrapped
}

// Every subcommand reads its command line through the one reader: the spellings it
// accepts, what ends the options, and the status and message of each mistake.
TEST(CliUnits, CommandLineReader) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after the subcommand's name
    int status;                     // -1: the command runs
    std::string out_dir, level;     // what --out and --level set
    bool quiet;
    std::vector<std::string> operands;
    const char* err;  // a part of the message, when there is one
  };
  const Case cases[] = {
      {"long with a separate value", {"--out", "d", "x"}, -1, "d", "", false, {"x"}, ""},
      {"long with =", {"--out=d=e", "x"}, -1, "d=e", "", false, {"x"}, ""},
      {"short with a separate value", {"-o", "d"}, -1, "d", "", false, {}, ""},
      {"short with the value attached", {"-od"}, -1, "d", "", false, {}, ""},
      {"a value may begin with a dash", {"-o", "-d"}, -1, "-d", "", false, {}, ""},
      {"flags and operands in any order", {"a", "-q", "b"}, -1, "", "", true, {"a", "b"}, ""},
      {"-- ends the options", {"--", "-q", "--out"}, -1, "", "", false, {"-q", "--out"}, ""},
      {"- is an operand", {"-"}, -1, "", "", false, {"-"}, ""},
      {"help", {"-q", "--help", "--bogus"}, 0, "", "", true, {}, ""},
      {"unknown long", {"--bogus"}, 2, "", "", false, {}, "test: unknown option '--bogus' (see 'trackloom test --help')"},
      {"unknown short", {"-x"}, 2, "", "", false, {}, "unknown option '-x'"},
      {"flags are not bundled", {"-qq"}, 2, "", "", false, {}, "unknown option '-qq'"},
      {"a flag given a value", {"--quiet=1"}, 2, "", "", false, {}, "--quiet takes no value"},
      {"missing value", {"--out"}, 2, "", "", false, {}, "--out needs a directory"},
      {"empty value", {"-o", ""}, 2, "", "", false, {}, "-o needs a directory"},
      {"a value refused", {"--level=9"}, 2, "", "", false, {}, "--level takes 1 or 2, not '9'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out_dir, level;
    bool quiet = false;
    const std::vector<Option> options = {
        {"out", 'o', "a directory",
         [&](const std::string& v) {
           out_dir = v;
           return std::string();
         }},
        {"level", 0, "a level",
         [&](const std::string& v) {
           level = v;
           return v == "1" || v == "2" ? "" : "--level takes 1 or 2, not '" + v + "'";
         }},
        {"quiet", 'q', nullptr,
         [&](const std::string&) {
           quiet = true;
           return std::string();
         }},
    };
    std::vector<std::string> words = {"test"};
    words.insert(words.end(), c.args.begin(), c.args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    const CommandLine line = ReadCommandLine(static_cast<int>(argv.size()), argv.data(), options, "HELP\n", out, err);
    EXPECT_EQ(line.exit_status.value_or(-1), c.status);
    if (c.status == -1) {
      EXPECT_EQ(out_dir, c.out_dir);
      EXPECT_EQ(level, c.level);
      EXPECT_EQ(line.operands, c.operands);
    }
    EXPECT_EQ(quiet, c.quiet);
    char text[256] = {};
    std::rewind(out);
    EXPECT_EQ(std::fread(text, 1, sizeof text - 1, out) > 0, c.status == 0);
    std::rewind(err);
    const size_t n = std::fread(text, 1, sizeof text - 1, err);
    text[n] = '\0';
    EXPECT_NE(std::string(text).find(c.err), std::string::npos) << text;
    EXPECT_EQ(n > 0, c.status == 2) << text;
    std::fclose(out);
    std::fclose(err);
  }
}

TEST(CliUnits, FitGeometryAndFilterChain) {
  struct Case {
    Fit fit;
    int width, height, sar_num, sar_den;
    FitGeometry expected;
  };
  // The screen is 4:3 over 144 x 80 stored pixels.
  const Case cases[] = {
      {Fit::kLetterbox, 1920, 1080, 1, 1, {144, 60, 0, 10}},  // 16:9: bands above and below
      {Fit::kLetterbox, 640, 480, 1, 1, {144, 80, 0, 0}},
      {Fit::kLetterbox, 1080, 1920, 1, 1, {61, 80, 41, 0}},  // portrait
      {Fit::kLetterbox, 144, 80, 1, 1, {144, 59, 0, 10}},  // 9:5 in square pixels is wider than 4:3
      {Fit::kLetterbox, 720, 480, 32, 27, {144, 60, 0, 10}},  // anamorphic 16:9
      {Fit::kLetterbox, 720, 480, 8, 9, {144, 80, 0, 0}},     // anamorphic 4:3
      {Fit::kCrop, 1920, 1080, 1, 1, {192, 80, 24, 0}},
      {Fit::kCrop, 1080, 1920, 1, 1, {144, 190, 0, 55}},
      {Fit::kStretch, 1920, 1080, 1, 1, {144, 80, 0, 0}},
      {Fit::kLetterbox, 640, 480, 0, 1, {144, 80, 0, 0}},  // unknown aspect: square pixels
  };
  for (const Case& c : cases) {
    const FitGeometry g = ComputeFitGeometry(c.fit, c.width, c.height, c.sar_num, c.sar_den);
    EXPECT_EQ(g.scaled_width, c.expected.scaled_width) << c.width << "x" << c.height;
    EXPECT_EQ(g.scaled_height, c.expected.scaled_height) << c.width << "x" << c.height;
    EXPECT_EQ(g.offset_x, c.expected.offset_x) << c.width << "x" << c.height;
    EXPECT_EQ(g.offset_y, c.expected.offset_y) << c.width << "x" << c.height;
  }
  EXPECT_EQ(BuildFilterChain(Fit::kLetterbox, 640, 480, 1, 1),
            "fps=18:start_time=0,scale=144:80:flags=area,format=bgra,setsar=1");
  EXPECT_EQ(BuildFilterChain(Fit::kLetterbox, 1920, 1080, 1, 1),
            "fps=18:start_time=0,scale=144:60:flags=area,format=bgra,pad=144:80:0:10:black,setsar=1");
  // A phone's upright video stored sideways: scaled first, then turned.
  EXPECT_EQ(BuildFilterChain(Fit::kLetterbox, 1920, 1080, 1, 1, {1}),
            "fps=18:start_time=0,scale=80:61:flags=area,format=bgra,transpose=clock,pad=144:80:41:0:black,"
            "setsar=1");
  // Subpixel sampling: the same placement on the half-dot cells, 3 x 2 a stored pixel.
  EXPECT_EQ(BuildFilterChain(Fit::kLetterbox, 1920, 1080, 1, 1, {}, "format=bgra", Sampling::kSubpixel),
            "fps=18:start_time=0,scale=432:120:flags=area,format=bgra,pad=432:160:0:20:black,setsar=1");
  EXPECT_EQ(DescribeShaping(Fit::kLetterbox, 1920, 1080, 1, 1, {}), "16:9 picture letterboxed into the 4:3 screen");
  EXPECT_EQ(DescribeShaping(Fit::kCrop, 720, 480, 1, 1, {3}),
            "2:3 picture (turned anticlockwise) cropped to fill the 4:3 screen");
  Fit fit = Fit::kStretch;
  EXPECT_TRUE(ParseFit("crop", fit));
  EXPECT_EQ(fit, Fit::kCrop);
  EXPECT_FALSE(ParseFit("Crop", fit));
}

// A line one dot wide, drawn down the whole picture on the half-dot cells, in one
// component: sampled a component at its dot, it is brightest on the panel exactly at
// that dot among the dots of its colour in its row, where the panel view lights it.
TEST(CliUnits, SubpixelSamplingPutsEachComponentOnItsDot) {
  struct Case {
    int column, component;  // the stored pixel's component that carries the line
    int dot, dot_row;       // where the panel shows it: dot column, 0 or 1 in the row pair
  };
  const Case cases[] = {
      {10, 0, 15, 0}, {10, 1, 15, 1}, {10, 2, 16, 1},  // an even column: R G B
      {11, 0, 17, 1}, {11, 1, 16, 0}, {11, 2, 17, 0},  // an odd one
      {0, 1, 0, 1},   {143, 2, 215, 0},                // at the picture's sides
  };
  constexpr int kRow = 40;
  for (const Case& c : cases) {
    SCOPED_TRACE("column " + std::to_string(c.column) + " component " + std::to_string(c.component));
    std::vector<uint8_t> cells(size_t{kCellWidth} * kCellHeight * 4, 0);
    const int first_cell = 2 * c.dot - c.dot_row;  // odd dot rows sit one cell to the left
    for (int y = 0; y < kCellHeight; ++y) {
      for (int x = std::max(first_cell, 0); x < first_cell + 2; ++x)
        cells[(y * kCellWidth + x) * 4 + 2 - c.component] = 255;
    }
    std::vector<uint8_t> bgra(size_t{kPictureWidth} * kPictureHeight * 4);
    SampleSubpixels(cells.data(), kCellWidth * 4, bgra.data(), kPictureWidth * 4);
    std::vector<uint8_t> rgb(size_t{kPictureWidth} * kPictureHeight * 3), panel(kPanelImageSize);
    for (int i = 0; i < kPictureWidth * kPictureHeight; ++i) {
      for (int k = 0; k < 3; ++k) rgb[i * 3 + k] = bgra[i * 4 + 2 - k];
    }
    RenderPanel(rgb.data(), panel.data());
    const uint8_t* row = panel.data() + (2 * kRow + c.dot_row) * kPanelWidth * 3;
    int brightest = -1;
    for (int x = 0; x < kPanelWidth; ++x) {
      if (brightest < 0 || row[x * 3 + c.component] > row[brightest * 3 + c.component]) brightest = x;
    }
    EXPECT_EQ(brightest, c.dot);
    EXPECT_EQ(DotOfComponent(c.column, c.component).first_cell, first_cell);
    EXPECT_EQ(DotOfComponent(c.column, c.component).row, c.dot_row);
  }
}

TEST(CliUnits, PanelFillsTheLargestFourByThreeRectangleOfAnyWindow) {
  struct Case {
    int width, height;
    PictureRect expected;
  };
  const Case cases[] = {
      {648, 486, {0, 0, 648, 486}},         // the window as play opens it
      {1920, 1080, {240, 0, 1440, 1080}},   // a wide full screen: bands at the sides
      {600, 1000, {0, 275, 600, 450}},      // a tall window: bands above and below
      {1, 1, {0, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    const PictureRect r = FitDisplayShape(c.width, c.height);
    EXPECT_EQ(r.x, c.expected.x);
    EXPECT_EQ(r.y, c.expected.y);
    EXPECT_EQ(r.width, c.expected.width);
    EXPECT_EQ(r.height, c.expected.height);
  }
}

// The pixels view made 4:2:0 at once is the RGB view converted: Y of each pixel,
// chroma of each 2 x 2 block's mean (BT.601 studio range).
TEST(CliUnits, PixelsViewYuvIsTheViewConverted) {
  std::vector<uint8_t> rgb(kRgbPictureSize);
  for (size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<uint8_t>(i * 7919 % 251);
  for (const int scale : {1, 3, 4}) {
    SCOPED_TRACE(scale);
    const PictureRect size = ViewDisplaySize(View::kPixels, scale);
    const int w = size.width, h = size.height;
    std::vector<uint8_t> shown(static_cast<size_t>(w) * h * 3), yuv(Yuv420Size(w, h));
    RenderView(View::kPixels, rgb.data(), w, h, shown.data());
    PixelsViewYuv(w, h).Render(rgb.data(), yuv.data());
    const auto at = [&](int x, int y, int c) { return int{shown[(y * w + x) * 3 + c]}; };
    int wrong = 0;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x)
        wrong += yuv[y * w + x] !=
                 ((66 * at(x, y, 0) + 129 * at(x, y, 1) + 25 * at(x, y, 2) + 128) >> 8) + 16;
    }
    for (int y = 0; y < h / 2; ++y) {
      for (int x = 0; x < w / 2; ++x) {
        int sum[3] = {};
        for (int c = 0; c < 3; ++c)
          sum[c] = at(2 * x, 2 * y, c) + at(2 * x + 1, 2 * y, c) + at(2 * x, 2 * y + 1, c) +
                   at(2 * x + 1, 2 * y + 1, c);
        const size_t u = static_cast<size_t>(w) * h + y * (w / 2) + x;
        wrong += yuv[u] != ((-38 * sum[0] - 74 * sum[1] + 112 * sum[2] + 512) >> 10) + 128;
        wrong += yuv[u + w / 2 * (h / 2)] !=
                 ((112 * sum[0] - 94 * sum[1] - 18 * sum[2] + 512) >> 10) + 128;
      }
    }
    EXPECT_EQ(wrong, 0);
  }
}

TEST(CliUnits, ProgressLineAndDurations) {
  EXPECT_EQ(Progress::Line(90, 360, 45.0), "frame 90/360 (25%)  45.0 fps  0:06 left");
  EXPECT_EQ(Progress::Line(90, -1, 45.0), "frame 90  45.0 fps");
  EXPECT_EQ(Progress::Line(0, 360, 0), "frame 0/360 (0%)");
  EXPECT_EQ(Progress::Line(400, 360, 10), "frame 400/400 (100%)  10.0 fps");  // the estimate was short
  struct DurationCase {
    double seconds;
    int decimals;
    const char* text;
  };
  const DurationCase durations[] = {
      {59.4, 0, "0:59"},       {59.5, 0, "1:00"},        {3723, 0, "1:02:03"},       {-4, 0, "0:00"},
      {0.1667, 2, "0:00.17"},  {2.0119, 1, "0:02.0"},    {59.96, 1, "1:00.0"},       {4500.25, 2, "1:15:00.25"},
      {0.0 / 0.0, 1, "0:00.0"},
  };
  for (const DurationCase& d : durations) {
    EXPECT_EQ(FormatDuration(d.seconds, d.decimals), d.text) << d.seconds << " " << d.decimals;
  }
  // 80 minutes of disc hold 43200 records in one track: 40 minutes of video.
  EXPECT_NEAR(DiscSeconds(43200, 1), 4800.0116, 1e-3);
  // Against a disc's minutes the records count exactly: 40:00 of video fits 80 minutes,
  // one record more does not, and the figure never reads as the limit when past it.
  struct DiscCase {
    int64_t records;
    double limit_seconds;
    bool fits;
    const char* text;
  };
  for (const DiscCase& c : {DiscCase{43200, 4800, true, "1:20:00"}, {43201, 4800, false, "1:20:00.1"},
                            {54, 6, true, "0:06"}, {36, 3, false, "0:04"}, {0, 3, true, "0:00"}}) {
    EXPECT_EQ(FitsDisc(c.records, c.limit_seconds), c.fits) << c.records;
    EXPECT_EQ(DiscTimeText(c.records), c.text) << c.records;
  }
  // A run's plan over inputs of known and unknown length: its longest track, and why
  // it is refused for an 80-minute disc (empty: it is not).
  struct PlanCase {
    std::vector<PlannedInput> inputs;
    int64_t records, longest;
    std::string refusal;
  };
  const PlanCase plans[] = {
      {{{"a", 43200, {}}, {"b", 43200, {}}}, 86400, 43200, ""},
      {{{"a", 43201, {}}}, 43201, 43201, "track 1 of 'a' would take 1:20:00.1 of disc time, more than a 80-minute"},
      {{{"a", 86400, {43200}}, {"-", -1, {}}}, 86400, 43200, ""},
      {{{"a", 80000, {100, 100, 50000}}}, 80000, 49900, "track 2 of 'a' would take"},
      {{{"a", 60000, {}}, {"b", 60000, {}}, {"c", 60000, {}}}, 180000, 60000, "the 3 inputs would take together"},
  };
  for (const PlanCase& c : plans) {
    const DiscTimePlan plan = PlanDiscTime(c.inputs);
    EXPECT_EQ(plan.records, c.records);
    EXPECT_EQ(plan.longest, c.longest);
    const std::string refusal = DiscTimeRefusal(plan, c.inputs, 80, 2);
    EXPECT_EQ(refusal.substr(0, c.refusal.size()), c.refusal) << refusal;
    EXPECT_EQ(refusal.empty(), c.refusal.empty()) << refusal;
  }
  EXPECT_EQ(BreakEveryTimes(600, 1500, 60), (std::vector<double>{600, 1200}));
  EXPECT_EQ(BreakEveryTimes(600, 1200, 60), (std::vector<double>{600}));  // none at the very end
  EXPECT_EQ(BreakEveryTimes(600, -1, 3), (std::vector<double>{600, 1200, 1800}));
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
    EXPECT_EQ(IsTrackAudioWav(dir.File(c.name)), c.accepted) << c.name;
  }
  EXPECT_FALSE(IsTrackAudioWav(dir.File("missing")));
  uint8_t header[kWaveHeaderSize];
  MakeSoundWavHeader(35280, header);
  const std::vector<uint8_t> one_second = MakeWav(17640, 8, 2, std::vector<uint8_t>(35280));
  EXPECT_EQ(std::vector<uint8_t>(header, header + kWaveHeaderSize),
            std::vector<uint8_t>(one_second.begin(), one_second.begin() + kWaveHeaderSize));
}

// A track whose finish failed keeps size fields that do not match the file, and the
// encode's failure message must not call it complete.
TEST(CliUnits, WrittenTracksTellFinishedFromUnfinished) {
  TempDir dir;
  const TrackFileSnapshot before = TrackFileSnapshot::Take(dir.path());
  const std::vector<uint8_t> records(2 * kFrameRecordSize + kLeadInSize, 0x80);
  std::vector<uint8_t> unpatched = MakeWav(44100, 16, 2, records);
  unpatched[40] = unpatched[41] = unpatched[42] = unpatched[43] = 0;
  std::vector<uint8_t> grown = MakeWav(44100, 16, 2, records);
  grown.push_back(0);  // a write after the patch
  const std::vector<std::vector<uint8_t>> files = {MakeWav(44100, 16, 2, records), unpatched,
                                                   grown};
  for (size_t i = 0; i < files.size(); ++i)
    WriteFileBytes(dir.File(TrackFileName(static_cast<int>(i) + 1)), files[i]);
  std::vector<bool> finished;
  for (const TrackFileInfo& t : before.WrittenSince(dir.path())) finished.push_back(t.finished());
  EXPECT_EQ(finished, (std::vector<bool>{true, false, false}));
}

// Reduced towards the even aim, any picture comes out as ReduceToPanelLevels makes
// it; towards an uneven one, a flat area averages to its value as shown.
TEST(CliUnits, LevelReducerAimsAtAnyShownLevels) {
  std::vector<uint8_t> random(size_t{kPictureWidth} * kPictureHeight * 4);
  uint32_t seed = 12345;
  for (uint8_t& b : random) b = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  levels::Tables fine = levels::StandardTables();
  for (int n = 0; n < levels::kEntries; ++n) fine.level[1][n] = static_cast<uint8_t>(n + 4);
  struct Case {
    Dither dither;
    bool even;
    double most_error;  // of a flat picture's shown mean, in 8-bit steps
  };
  const Case cases[] = {{Dither::kOrdered, true, 0}, {Dither::kNone, true, 0},
                        {Dither::kOrdered, false, 0.6}, {Dither::kNone, false, 4.2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.dither)) + (c.even ? " even" : " uneven"));
    const LevelAim aim = c.even ? EvenAim() : AimAt(fine);
    const LevelReducer reducer(aim, c.dither);
    if (c.even) {
      std::vector<uint8_t> mine = random, theirs = random;
      reducer.Reduce(mine.data(), kPictureWidth * 4);
      ReduceToPanelLevels(theirs.data(), kPictureWidth * 4, c.dither);
      EXPECT_EQ(mine, theirs);
      continue;
    }
    for (int value = 40; value <= 120; value += 7) {
      std::vector<uint8_t> flat(random.size(), static_cast<uint8_t>(value));
      reducer.Reduce(flat.data(), kPictureWidth * 4);
      double sum = 0;
      for (size_t i = 1; i < flat.size(); i += 4) sum += aim[1][flat[i] / 17];
      EXPECT_NEAR(sum / static_cast<double>(flat.size() / 4), value, c.most_error) << value;
    }
  }
}

// The tables chosen for pictures whose values lie in one range spend the finest steps
// (consecutive panel levels) there, and always rise.
TEST(CliUnits, LevelChoiceSpendsStepsWhereThePicturesAre) {
  struct Case {
    const char* name;
    int low, high;          // every component's values, evenly
    int least_inside;       // levels at least, of those shown within low..high
  };
  const Case cases[] = {{"dark", 0, 60, 8}, {"fog", 150, 200, 6}, {"whole range", 0, 255, 16}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> picture(size_t{kPictureWidth} * kPictureHeight * 4);
    for (size_t i = 0; i < picture.size(); ++i)
      picture[i] = static_cast<uint8_t>(c.low + (i / 4 * 7 + i % 4) % (c.high - c.low + 1));
    LevelHistograms histograms;
    histograms.Add(picture.data(), kPictureWidth * 4);
    for (Dither dither : {Dither::kOrdered, Dither::kNone}) {
      const levels::Tables t = ChooseTables(histograms, dither);
      for (int component = 0; component < levels::kComponents; ++component) {
        int inside = 0;
        for (int n = 0; n < levels::kEntries; ++n) {
          if (n > 0) {
            EXPECT_LT(t.level[component][n - 1], t.level[component][n]);
          }
          EXPECT_LT(t.level[component][n], levels::kPanelLevels);
          const int shown = levels::ShownValue(t.level[component][n]);
          inside += shown >= c.low && shown <= c.high;
        }
        EXPECT_GE(inside, c.least_inside) << "component " << component;
      }
    }
  }
}

}  // namespace
}  // namespace trackloom::cli
