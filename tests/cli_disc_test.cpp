// trackloom disc end to end: images read back with the tools people burn with (bchunk,
// cdrdao), then with inspect and decode; and every refusal leaving nothing behind.
#include <signal.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "cli/tracks/track_reader.h"
#include "core/track_format.h"
#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

constexpr size_t kSector = 2352;

// What the image must hold for an input: its audio, then zeros to at least 4 s and
// to a whole sector.
std::vector<uint8_t> Padded(std::vector<uint8_t> audio) {
  const size_t minimum = 300 * kSector;
  audio.resize(std::max(minimum, (audio.size() + kSector - 1) / kSector * kSector), 0);
  return audio;
}

// The data chunk of a WAV file, found by walking its chunks.
std::vector<uint8_t> Audio(const std::string& wav) {
  const std::vector<uint8_t> bytes = ReadFileBytes(wav);
  size_t at = 12;
  while (at + 8 <= bytes.size() && std::memcmp(&bytes[at], "data", 4) != 0) at += 8 + ReadLe32(bytes, at + 4);
  EXPECT_LE(at + 8, bytes.size()) << wav;
  return {bytes.begin() + static_cast<ptrdiff_t>(std::min(at + 8, bytes.size())), bytes.end()};
}

struct Inputs {
  std::string first, last, track1, track2, minute;
};

// Two tracks from the command, a first track made another way (records after a
// 392-byte lead-in, a LIST chunk before the data) and a plain CD-audio last track.
Inputs MakeInputs(const TempDir& dir) {
  const CommandResult demo = RunTrackloom({"demo", "-o", dir.File("tracks"), "--quiet"});
  EXPECT_EQ(demo.status, 0) << demo.err;
  Inputs in{dir.File("first.wav"), dir.File("last.wav"), dir.File("tracks/" + TrackFileName(1)),
            dir.File("tracks/" + TrackFileName(2)), dir.File("minute/" + TrackFileName(1))};
  const std::vector<uint8_t> track = ReadFileBytes(in.track1);
  std::vector<uint8_t> audio(392, 0);
  audio.insert(audio.end(), track.begin() + 2092, track.begin() + 2092 + 40 * 19600);
  std::vector<uint8_t> wav = MakeWav(44100, 16, 2, audio);
  const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  wav.insert(wav.begin() + 36, list.begin(), list.end());
  wav[4] = static_cast<uint8_t>(wav[4] + list.size());
  WriteFileBytes(in.first, wav);
  Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=500:duration=5", "-ac", "2", "-ar", "44100", "-c:a", "pcm_s16le",
          in.last});
  // A track of one minute of video: two minutes of disc time.
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=duration=60:size=144x80:rate=18", "-c:v", "ffv1", dir.File("minute.mkv")});
  const CommandResult minute =
      RunTrackloom({"encode", dir.File("minute.mkv"), "-o", dir.File("minute"), "--no-audio", "--quiet"});
  EXPECT_EQ(minute.status, 0) << minute.err;
  return in;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& bytes, size_t from, size_t count) {
  return {bytes.begin() + static_cast<ptrdiff_t>(from), bytes.begin() + static_cast<ptrdiff_t>(from + count)};
}

TEST(CliDisc, ImageReadsBackWithBchunkCdrdaoInspectAndDecode) {
  TempDir dir;
  const Inputs in = MakeInputs(dir);
  const std::vector<uint8_t> silence;  // a track checked by other means
  const std::vector<uint8_t> last_audio = Audio(in.last);
  const std::vector<uint8_t> first_audio = Audio(in.first);
  // A first track as users rip a retail one: level tables of its own, and the drive's
  // read offset cutting its last record (17640 of 19600 bytes).
  std::vector<uint8_t> retail_audio = first_audio;
  trackloom::levels::Tables own = trackloom::levels::StandardTables();
  own.level[1][3] = 5;
  for (size_t at = 392; at < retail_audio.size(); at += 19600) trackloom::levels::PutTables(&retail_audio[at], own);
  std::vector<uint8_t> cut_audio = retail_audio;
  cut_audio.insert(cut_audio.end(), retail_audio.begin() + 392, retail_audio.begin() + 392 + 17640);
  WriteFileBytes(dir.File("retail.wav"), MakeWav(44100, 16, 2, cut_audio));
  struct Case {
    const char* name;
    std::string first;
    std::vector<std::string> options;
    std::vector<std::vector<uint8_t>> expected;  // per track; empty: checked by inspect
    std::vector<uint64_t> records;               // per track, as inspect counts them
    const char* note;
  } cases[] = {
      {"made end track, padded", in.first, {"--pad-to", "0:50"},
       {Padded(first_audio), Padded(Audio(in.track1)), Padded(Audio(in.track2)), silence, silence},
       {40, 108, 108, 36, 0}, ""},
      {"given last track, no padding", in.first, {"--last", in.last, "--no-pad"},
       {Padded(first_audio), Padded(Audio(in.track1)), Padded(Audio(in.track2)), Padded(last_audio)},
       {40, 108, 108, 0}, ""},
      {"retail first track cut inside a record", dir.File("retail.wav"), {"--no-pad"},
       {Padded(retail_audio), Padded(Audio(in.track1)), Padded(Audio(in.track2)), silence},
       {40, 108, 108, 36}, "the first track ends inside a record (17640 of its 19600 bytes"},
  };
  int run = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File("out-" + std::to_string(++run));
    std::vector<std::string> args = {"disc", "-o", out + "/film", "--first", c.first, in.track1, in.track2};
    args.insert(args.end(), c.options.begin(), c.options.end());
    CommandResult r = RunTrackloom(args);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE((r.out + r.err).find(c.note), std::string::npos) << r.out << r.err;
    // How to burn it: cdrdao on Linux, a burning program's cue sheet on Windows.
    const std::string burn = TrackloomIsWindows() ? "film.cue\" in a burning program" : "cdrdao write --device";
    EXPECT_NE(r.out.find(burn), std::string::npos) << r.out;
    EXPECT_EQ(ListDirectory(out), (std::vector<std::string>{"film.bin", "film.cue", "film.toc"}));
    const std::vector<uint8_t> bin = ReadFileBytes(out + "/film.bin");

    // bchunk splits the BIN along the cue sheet into the inputs, byte for byte.
    r = RunCommand({"bchunk", "-w", out + "/film.bin", out + "/film.cue", out + "/split"});
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    size_t at = 0;
    for (size_t t = 0; t < c.expected.size(); ++t) {
      char name[32];
      std::snprintf(name, sizeof name, "/split%02zu.wav", t + 1);
      const std::vector<uint8_t> split = Audio(out + name);
      if (!c.expected[t].empty()) {
        EXPECT_EQ(split, c.expected[t]) << "track " << t + 1;
      }
      EXPECT_EQ(split, Slice(bin, at, split.size())) << "track " << t + 1;
      at += split.size();
    }
    EXPECT_EQ(at, bin.size());
    // A split track keeps its last sector's zero bytes: a note, not a cut-off record.
    r = RunTrackloom({"inspect", out + "/split02.wav"});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("then 304 zero bytes of sector padding"), std::string::npos) << r.out;
    r = RunTrackloom({"repair", "--dry-run", out + "/split02.wav"});
    EXPECT_NE(r.out.find("a valid track of 108 records, then the zero bytes of a disc sector"), std::string::npos);

    // cdrdao accepts the TOC and reads from it the samples the cue sheet names.
    EXPECT_EQ(RunCommand({"cdrdao", "show-toc", out + "/film.toc"}).status, 0);
    r = RunCommand({"cdrdao", "read-test", out + "/film.toc"});
    EXPECT_EQ(r.status, 0) << r.err.substr(0, 2000);
    r = RunCommand({"cdrdao", "show-data", out + "/film.toc"});
    ASSERT_EQ(r.status, 0);
    std::istringstream lines(r.out);
    size_t sample = 0, mismatches = 0;
    long n = 0, left = 0, right = 0;
    char colon = 0;
    while (lines >> n >> colon >> left >> right) {
      const auto l = static_cast<int16_t>(bin[sample * 4] | bin[sample * 4 + 1] << 8);
      const auto rr = static_cast<int16_t>(bin[sample * 4 + 2] | bin[sample * 4 + 3] << 8);
      if (n != static_cast<long>(sample) || left != l || right != rr) ++mismatches;
      ++sample;
    }
    EXPECT_EQ(sample * 4, bin.size());
    EXPECT_EQ(mismatches, 0u);

    // inspect finds every track's records; decode takes one out of the image.
    for (const char* sheet : {"/film.cue", "/film.toc"}) {
      r = RunTrackloom({"inspect", "--json", out + sheet});
      EXPECT_EQ(r.status, 0) << r.out;
      size_t from = 0;
      for (uint64_t records : c.records) {
        from = r.out.find("\"records\": ", from);
        ASSERT_NE(from, std::string::npos);
        from += 11;
        EXPECT_EQ(std::stoull(r.out.substr(from)), records) << r.out;
      }
    }
    r = RunTrackloom({"decode", out + "/film.cue", "--track", "2", "-o", out + "/dec", "--no-pictures"});
    ASSERT_EQ(r.status, 0) << r.err;
    const CommandResult quiet =
        RunTrackloom({"decode", in.track1, "-o", out + "/dec1", "--no-pictures", "--quiet"});
    ASSERT_EQ(quiet.status, 0);
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(ReadFileBytes(out + "/dec/sound.wav"), ReadFileBytes(out + "/dec1/sound.wav"));
  }
}

TEST(CliDisc, RefusalsWriteNothing) {
  TempDir dir;
  const Inputs in = MakeInputs(dir);
  WriteFileBytes(dir.File("8bit.wav"), MakeWav(17640, 8, 2, std::vector<uint8_t>(19600, 0x80)));
  std::vector<uint8_t> cut = ReadFileBytes(in.track1);
  cut.resize(cut.size() - 100);
  WriteFileBytes(dir.File("cut.wav"), cut);
  WriteFileBytes(dir.File("cut\x1b[2J.wav"), cut);
  WriteFileBytes(dir.File("film.bin"), ReadFileBytes(in.first));
  std::filesystem::create_directories(dir.File("old/film.toc"));
  std::vector<std::string> many(98, in.track1);
  struct Case {
    const char* name;
    std::vector<std::string> args;
    uint64_t file_size_limit;
    int status;
    const char* message;
  } cases[] = {
      {"first without records", {"--first", in.last, in.track1}, 0, 1, "holds no video records"},
      {"first not CD audio", {"--first", dir.File("8bit.wav"), in.track1}, 0, 1, "is not CD audio"},
      {"first missing", {"--first", dir.File("none.wav"), in.track1}, 0, 1, "No such file"},
      {"track not valid", {"--first", in.first, in.track1, dir.File("cut.wav")}, 0, 1, "is not a valid track"},
      {"over capacity", {"--first", in.first, "--capacity", "1"}, 0, 1,
       "give --split to write as many discs as the tracks need"},
      {"a track longer than a disc", {"--first", in.first, "--capacity", "1", "--split", in.minute}, 0, 1,
       "minute/VDN Track 01.wav' alone does not fit one disc"},
      {"capacity not whole minutes", {"--first", in.first, in.track1, "--capacity", "1.5"}, 0, 2, "whole minutes"},
      {"100 tracks", {"--first", in.first}, 0, 1, "at most 99 tracks"},
      {"file size limit", {"--first", in.first, in.track1, "--no-pad"}, 1 << 20, 1,
       "film.bin': the file size limit is reached (ulimit -f); nothing was written"},
      {"image over its first track", {"-o", dir.File("film"), "--first", dir.File("film.bin"), in.track1}, 0, 1,
       "film.bin': it is the input '"},
      {"escape codes in a name", {"--first", in.first, dir.File("cut\x1b[2J.wav")}, 0, 1,
       "cut\\x1b[2J.wav' is not a valid track"},
      {"a directory in the way of the .toc", {"-o", dir.File("old/film"), "--first", in.first, in.track1}, 0, 1,
       "film.toc': a directory of that name is in the way"},
      {"no first track", {in.track1}, 0, 2, "no first track"},
      {"pad and no pad", {"--first", in.first, in.track1, "--no-pad", "--pad-to", "1:00"}, 0, 2, "contradict"},
  };
  cases[4].args.insert(cases[4].args.end(), many.begin(), many.begin() + 6);
  cases[7].args.insert(cases[7].args.end(), many.begin(), many.end());
  const std::map<std::string, std::string> not_on_windows = {
      {"file size limit", "ulimit -f is no Windows limit (wine ends the process there)"},
      {"escape codes in a name", "Windows names cannot hold control characters"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (SkipRowOnWindows(not_on_windows, c.name)) continue;
    std::vector<std::string> args = {"disc", "-o", dir.File("out/film")};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.file_size_limit = c.file_size_limit;
    const CommandResult r = RunTrackloom(args, options);
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
    EXPECT_EQ(ListDirectory(dir.File("out")), std::vector<std::string>{});
  }
}

// Tracks over several discs: each disc whole and within the blank, every track once
// and in its order, each image as the burning tools and inspect read it.
TEST(CliDisc, SplitFillsDiscsInOrderWithinTheBlank) {
  TempDir dir;
  const Inputs in = MakeInputs(dir);
  std::vector<std::string> tracks;
  for (int i = 1; i <= 7; ++i) {
    tracks.push_back(dir.File("t" + std::to_string(i) + ".wav"));
    std::filesystem::copy_file(in.minute, tracks.back());
  }
  // Two minutes of disc time a track: two fit a 5-minute blank beside the first and end tracks.
  const std::vector<std::vector<size_t>> discs = {{1, 2}, {3, 4}, {5, 6}, {7}};
  const uint64_t blank_sectors = 5 * 60 * 75;
  const struct {
    const char* name;
    std::vector<std::string> options;
    bool padded_to_blank;
  } cases[] = {
      {"no padding", {"--no-pad"}, false},
      {"padding stops at the blank's end", {}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File(c.padded_to_blank ? "padded" : "plain");
    std::vector<std::string> args = {"disc", "-o", out + "/film", "--first", in.first, "--capacity", "5", "--split",
                                     "--json"};
    args.insert(args.end(), c.options.begin(), c.options.end());
    args.insert(args.end(), tracks.begin(), tracks.end());
    const CommandResult made = RunTrackloom(args);
    ASSERT_EQ(made.status, 0) << made.err;
    const std::string& json = made.out;
    size_t from = 0;
    for (size_t d = 0; d < discs.size(); ++d) {
      from = json.find("\"disc\": " + std::to_string(d + 1) + ",", from);
      ASSERT_NE(from, std::string::npos) << json;
      for (size_t t : discs[d]) {
        from = json.find("\"file\": \"" + tracks[t - 1] + "\"", from);
        EXPECT_LT(from, json.find("\"disc\": " + std::to_string(d + 2) + ",")) << "track " << t << json;
      }
      const std::string base = out + "/film-" + std::to_string(d + 1);
      const uint64_t sectors = ReadFileBytes(base + ".bin").size() / kSector;
      EXPECT_LE(sectors + 150, blank_sectors) << base;
      EXPECT_EQ(sectors + 150 == blank_sectors, c.padded_to_blank) << base;
      const CommandResult r = RunTrackloom({"inspect", "--json", base + ".cue"});
      EXPECT_EQ(r.status, 0) << r.out;
      size_t minutes = 0;
      for (size_t at = r.out.find("\"records\": 1080,"); at != std::string::npos;
           at = r.out.find("\"records\": 1080,", at + 1)) {
        ++minutes;
      }
      EXPECT_EQ(minutes, discs[d].size()) << r.out;
      EXPECT_EQ(RunCommand({"bchunk", "-w", base + ".bin", base + ".cue", out + "/split"}).status, 0) << base;
      EXPECT_EQ(RunCommand({"cdrdao", "show-toc", base + ".toc"}).status, 0) << base;
    }
    EXPECT_FALSE(FileExists(out + "/film-5.bin"));
  }
}

// The test disc: an image the burning tools and inspect take, whose tracks show what
// their cards promise. Each row looks at one track's records after its 3-second card.
TEST(CliDisc, TestPatternDiscHoldsWhatItsCardsPromise) {
  TempDir dir;
  const Inputs in = MakeInputs(dir);
  const CommandResult made = RunTrackloom({"disc", "--test-pattern", "-o", dir.File("test"), "--first", in.first});
  if (TrackloomIsWindows()) {  // no text drawing in its FFmpeg: refused, nothing written
    EXPECT_EQ(made.status, 1);
    EXPECT_NE(made.err.find("not in the Windows command yet"), std::string::npos) << made.err;
    EXPECT_FALSE(FileExists(dir.File("test.bin")));
    return;
  }
  ASSERT_EQ(made.status, 0) << made.err;
  EXPECT_EQ(RunTrackloom({"inspect", dir.File("test.cue")}).status, 0);
  EXPECT_EQ(RunCommand({"bchunk", "-w", dir.File("test.bin"), dir.File("test.cue"), dir.File("split")}).status, 0);
  EXPECT_EQ(RunCommand({"cdrdao", "show-toc", dir.File("test.toc")}).status, 0);
  constexpr size_t kCard = 3 * 18;
  const struct {
    const char* name;
    int track;
    std::function<void(const Track&)> check;
  } rows[] = {
      {"every level of every component", 1,
       [](const Track& t) {
         std::set<uint8_t> levels[3];
         const std::vector<uint8_t> picture = t.PictureNibbles(kCard + 9);
         for (size_t i = 0; i < picture.size(); ++i) levels[i % 3].insert(picture[i]);
         for (const std::set<uint8_t>& component : levels) EXPECT_EQ(component.size(), 16u);
       }},
      {"18 distinct frames a second, again each second", 2,
       [](const Track& t) {
         for (size_t second = 0; second < 12; ++second) {
           std::set<std::vector<uint8_t>> pictures;
           for (size_t r = 0; r < 18; ++r) pictures.insert(t.PictureNibbles(kCard + second * 18 + r));
           EXPECT_EQ(pictures.size(), 18u) << "second " << second;
         }
         EXPECT_EQ(t.PictureNibbles(kCard + 5), t.PictureNibbles(kCard + 5 + 18 * 7));
       }},
      {"a flash and a click in the same record, nothing between", 3,
       [](const Track& t) {
         for (size_t second = 0; second < 10; ++second) {
           for (const size_t r : {kCard + second * 18, kCard + second * 18 + 9}) {
             const std::vector<uint8_t> picture = t.PictureNibbles(r), sound = t.Sound(r);
             const bool flash = r % 18 == 0, lit = picture[40 * 144 * 3 + 72 * 3] == 15;
             const bool click = std::any_of(sound.begin(), sound.end(), [](uint8_t v) { return v != 0x80; });
             EXPECT_EQ(lit, flash) << "record " << r;
             EXPECT_EQ(click, flash) << "record " << r;
           }
         }
       }},
      {"left only, then right only", 4,
       [](const Track& t) {
         std::set<uint8_t> left, right, later_left;
         for (size_t r = kCard + 2; r < kCard + 52; ++r) {
           const std::vector<uint8_t> sound = t.Sound(r);
           for (size_t i = 0; i + 1 < sound.size(); i += 2) {
             left.insert(sound[i]);
             right.insert(sound[i + 1]);
           }
           const std::vector<uint8_t> then = t.Sound(r + 54);
           for (size_t i = 0; i < then.size(); i += 2) later_left.insert(then[i]);
         }
         EXPECT_GT(left.size(), 100u);
         EXPECT_EQ(right, std::set<uint8_t>{0x80});
         EXPECT_EQ(later_left, std::set<uint8_t>{0x80});
       }},
      {"tables of its own in every record: one word applied, the other ignored", 9,
       [](const Track& t) {
         size_t own = 0;
         for (size_t r = 0; r < t.records(); ++r) {
           levels::Tables tables{};
           own += cli::ReadLevelTables(t.record(r), &tables) && !levels::SameTables(tables, levels::StandardTables());
         }
         EXPECT_EQ(own, t.records());
         std::vector<uint8_t> applied(cli::kRgbPictureSize), ignored(cli::kRgbPictureSize);
         // Components over half lit, in the upper ("TABLES WORK") and lower half.
         auto lit = [](const std::vector<uint8_t>& rgb) {
           std::pair<int, int> n{0, 0};
           for (size_t i = 0; i < rgb.size(); ++i) (i < rgb.size() / 2 ? n.first : n.second) += rgb[i] > 128;
           return n;
         };
         cli::DecodeRecordPicture(t.record(9), applied.data());
         cli::DecodeFramePicture(t.record(9) + kRecordHeaderSize, ignored.data());
         EXPECT_EQ(applied, ignored) << "the card reads the same either way";
         cli::DecodeRecordPicture(t.record(kCard + 9), applied.data());
         cli::DecodeFramePicture(t.record(kCard + 9) + kRecordHeaderSize, ignored.data());
         EXPECT_GT(lit(applied).first, 100);
         EXPECT_EQ(lit(applied).second, 0);
         EXPECT_EQ(lit(ignored).first, 0);
         EXPECT_GT(lit(ignored).second, 100);
       }},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    row.check(ReadTrack(dir.File("test-tracks/" + TrackFileName(row.track))));
  }
}

// Sheets made to hang or occupy the commands: each is refused at once with the line
// that says why. play is only run as far as reading the sheet.
TEST(CliDisc, HostileSheetsAreRefusedAtOnce) {
  TempDir dir;
  WriteFileBytes(dir.File("a.bin"), std::vector<uint8_t>(10 * kSector, 0));
  ASSERT_EQ(mkfifo(dir.File("fifo.bin").c_str(), 0600) | mkfifo(dir.File("fifo.cue").c_str(), 0600), 0);
  std::string many;
  for (int i = 0; i < 5000; ++i)
    many += "FILE \"a.bin\" BINARY\n TRACK " + std::to_string(i % 99 + 1) + " AUDIO\n INDEX 01 00:00:00\n";
  const struct {
    const char* name;
    std::string text;
    std::string message;
  } sheets[] = {
      {"fifo.cue", "", "cannot open '" },
      {"named-fifo.cue", "FILE \"fifo.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n",
       "named-fifo.cue:1: cannot open '"},
      // (Windows has no /dev: there the name is only a file that cannot be opened.)
      {"device.toc", "CD_DA\nTRACK AUDIO\nFILE \"/dev/zero\" 0\n",
       TrackloomIsWindows() ? "device.toc:3: cannot open '/dev/zero': " : "device.toc:3: cannot open '/dev/zero': it is not"},
      {"silence.toc", "CD_DA\nTRACK AUDIO\nSILENCE 999999999999999\n", "silence.toc:3: the disc would last longer than 100"},
      {"long.cue", "FILE \"a.bin\" BINARY\n TRACK 01 AUDIO\n INDEX 01 00:00:00\n PREGAP 101:00:00\n"
                   " TRACK 02 AUDIO\n INDEX 01 00:00:01\n", "long.cue:6: the disc would last longer than 100"},
      {"many.cue", many, "many.cue:299: more than 99 tracks"},
      {"down.cue", "FILE \"a.bin\" BINARY\n TRACK 02 AUDIO\n INDEX 01 00:00:00\n TRACK 01 AUDIO\n INDEX 01 00:00:01\n",
       "down.cue:4: track 1 comes after track 2"},
  };
  for (const auto& sheet : sheets) {
    if (!sheet.text.empty()) WriteFileBytes(dir.File(sheet.name), std::vector<uint8_t>(sheet.text.begin(), sheet.text.end()));
    for (const std::vector<std::string>& command :
         {std::vector<std::string>{"inspect"}, {"decode", "--track", "1", "-o", dir.File("out")}, {"play"}}) {
      SCOPED_TRACE(std::string(sheet.name) + ", " + command[0]);
      // The timeout only keeps a hanging command from hanging the tests.
      std::vector<std::string> args = command;
      args.push_back(dir.File(sheet.name));
      const CommandResult r = RunTrackloom(args, {.timeout_seconds = 20});
      EXPECT_EQ(r.status, 2) << r.err;
      EXPECT_NE(r.err.find(sheet.message), std::string::npos) << r.err;
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
    }
  }
}

// Every stopping signal leaves no image; what a kill leaves, the next disc into the
// same place removes, and says so.
TEST(CliDisc, InterruptLeavesNoImage) {
  TempDir dir;
  const Inputs in = MakeInputs(dir);
  for (const int signal_number : {SIGINT, SIGHUP, SIGKILL}) {
    SCOPED_TRACE(signal_number);
    if (SkipRowOnWindows(
            {{"SIGHUP",
              "Windows has no hang-up signal: wine ends the process without a console event"}},
            signal_number == SIGHUP ? "SIGHUP" : "")) {
      continue;
    }
    const std::string out = dir.File("out" + std::to_string(signal_number));
    const pid_t pid = StartTrackloom({"disc", "-o", out + "/film", "--first", in.first, in.track1}, dir.path());
    // Interrupt once the image is being written (the padding makes it 437 MB).
    for (int i = 0; i < 1000; ++i) {
      std::vector<std::string> names = ListDirectory(out);
      struct stat st {};
      if (!names.empty() && stat((out + "/" + names[0]).c_str(), &st) == 0 && st.st_size > (4 << 20)) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    SignalTrackloom(pid, signal_number);
    const CommandResult r = WaitFor(pid, dir.path());
    // Under wine start.exe tells a killed program's end as 0.
    if (signal_number != SIGKILL || !TrackloomIsWindows()) {
      EXPECT_EQ(r.status, 128 + signal_number) << r.err;
    }
    if (signal_number != SIGKILL) {
      EXPECT_NE(r.err.find("no image was written"), std::string::npos) << r.err;
      EXPECT_EQ(ListDirectory(out), std::vector<std::string>{});
      continue;
    }
    const CommandResult again = RunTrackloom({"disc", "-o", out + "/film", "--first", in.first, in.track1, "--no-pad"});
    EXPECT_EQ(again.status, 0) << again.err;
    EXPECT_NE(again.out.find("Removed what an earlier disc left when it was stopped: .film."), std::string::npos)
        << again.out;
    EXPECT_EQ(ListDirectory(out), (std::vector<std::string>{"film.bin", "film.cue", "film.toc"}));
  }
}

TEST(CliDisc, EncodeOfSeveralInputsNumbersOnBreaksAtChaptersAndWritesTheDisc) {
  TempDir dir;
  const Inputs in = MakeInputs(dir);
  const std::string chapters = ";FFMETADATA1\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n"
                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2500\n"
                               "[CHAPTER]\nTIMEBASE=1/1000\nSTART=2500\nEND=4000\n";
  WriteFileBytes(dir.File("chapters.txt"), std::vector<uint8_t>(chapters.begin(), chapters.end()));
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=duration=2:size=160x120:rate=25", "-c:v", "ffv1", dir.File("a.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=duration=4:size=160x120:rate=25", "-i", dir.File("chapters.txt"),
          "-map_chapters", "1", "-c:v", "ffv1", dir.File("b.mkv")});
  struct Case {
    const char* name;
    std::vector<std::string> options;
    std::vector<size_t> records;  // per track file, in order
  } cases[] = {
      {"one track an input", {}, {36, 72}},
      {"chapters, then the disc", {"--break-at", "chapters", "--disc", "disc", "--first", in.first, "--no-pad"},
       {36, 18, 27, 27}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string out = dir.File(c.options.empty() ? "plain" : "chapters");
    std::vector<std::string> args = {"encode", dir.File("a.mkv"), dir.File("b.mkv"), "-o", out, "--no-audio"};
    for (const std::string& option : c.options) args.push_back(option == "disc" ? out + "/disc" : option);
    const CommandResult r = RunTrackloom(args);
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<size_t> records;
    for (int n = 1; FileExists(out + "/" + TrackFileName(n)); ++n) {
      records.push_back((ReadFileBytes(out + "/" + TrackFileName(n)).size() - 2092) / 19600);
    }
    EXPECT_EQ(records, c.records);
    if (c.options.empty()) continue;
    const CommandResult image = RunTrackloom({"inspect", "--json", out + "/disc.cue"});
    EXPECT_EQ(image.status, 0) << image.out;
    // The first track (40), the four above (108) and the end track (36).
    EXPECT_NE(image.out.find("\"records\": 184,"), std::string::npos) << image.out;
  }
}

}  // namespace
}  // namespace trackloom::testing
