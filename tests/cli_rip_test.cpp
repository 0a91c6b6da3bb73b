// trackloom rip end to end: disc images made from encoded tracks the ways rippers and
// drives leave them (one BIN, a BIN per track moved by a read offset, a TOC, noise),
// the video's pictures and sound compared with the tracks' own, byte for byte.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <sstream>

#include "cli/tracks/track_reader.h"
#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

constexpr size_t kSector = 2352;
constexpr size_t kRecord = 19600;

// A disc image of three tracks with records (a retail-like first track with a 392-byte
// lead-in, two from the command) and a last one of plain audio.
struct Disc {
  std::vector<std::string> tracks;  // the track files with records, in disc order
  std::vector<uint8_t> bin;         // film.bin
  std::vector<size_t> lengths;      // per track, bytes
};

Disc MakeDisc(const TempDir& dir) {
  Disc d;
  EXPECT_EQ(RunTrackloom({"demo", "-o", dir.File("tracks"), "--quiet"}).status, 0);
  const std::vector<uint8_t> track = ReadFileBytes(dir.File("tracks/VDN Track 01.wav"));
  std::vector<uint8_t> audio(track.begin() + 2092 - 392, track.begin() + 2092 + 40 * kRecord);
  std::fill(audio.begin(), audio.begin() + 392, 0);
  WriteFileBytes(dir.File("first.wav"), MakeWav(44100, 16, 2, audio));
  Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=500:duration=5", "-ac", "2", "-ar", "44100", "-c:a",
          "pcm_s16le", dir.File("last.wav")});
  d.tracks = {dir.File("first.wav"), dir.File("tracks/VDN Track 01.wav"),
              dir.File("tracks/VDN Track 02.wav")};
  const CommandResult r =
      RunTrackloom({"disc", "-o", dir.File("film"), "--first", d.tracks[0], d.tracks[1],
                    d.tracks[2], "--last", dir.File("last.wav"), "--no-pad", "--quiet"});
  EXPECT_EQ(r.status, 0) << r.err;
  d.bin = ReadFileBytes(dir.File("film.bin"));
  // Where each track starts, from the cue sheet's INDEX 01 lines.
  const std::vector<uint8_t> cue = ReadFileBytes(dir.File("film.cue"));
  std::istringstream lines(std::string(cue.begin(), cue.end()));
  std::vector<size_t> starts;
  for (std::string word; lines >> word;) {
    unsigned m = 0, sec = 0, f = 0;
    if (word == "01" && lines >> word && std::sscanf(word.c_str(), "%u:%u:%u", &m, &sec, &f) == 3)
      starts.push_back(((m * 60 + sec) * 75 + f) * kSector);
  }
  starts.push_back(d.bin.size());
  for (size_t i = 0; i + 1 < starts.size(); ++i) d.lengths.push_back(starts[i + 1] - starts[i]);
  EXPECT_EQ(d.lengths.size(), 4u);
  return d;
}

// The pictures (144 x 80 RGB) and sound of every record of the tracks, as decode
// gives them; first_lead_in: where the first track's records begin.
struct Decoded {
  std::vector<uint8_t> rgb, sound;
};

Decoded DecodeTracks(const std::vector<std::string>& tracks, size_t first_lead_in) {
  Decoded out;
  std::vector<uint8_t> rgb(cli::kRgbPictureSize), sound(1960);
  for (size_t t = 0; t < tracks.size(); ++t) {
    const std::vector<uint8_t> b = ReadFileBytes(tracks[t]);
    for (size_t at = 44 + (t == 0 ? first_lead_in : 2048); at + kRecord <= b.size();
         at += kRecord) {
      cli::DecodeFramePicture(&b[at + 400], rgb.data());
      cli::ExtractRecordSound(&b[at], sound.data());
      out.rgb.insert(out.rgb.end(), rgb.begin(), rgb.end());
      out.sound.insert(out.sound.end(), sound.begin(), sound.end());
    }
  }
  return out;
}

std::string Format2(size_t n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// The disc's audio moved by a drive's read offset (samples; later when positive),
// the same length.
std::vector<uint8_t> Shifted(const std::vector<uint8_t>& bin, int samples) {
  const size_t n = static_cast<size_t>(std::abs(samples)) * 4;
  std::vector<uint8_t> out(bin.size(), 0);
  if (samples >= 0)
    std::copy(bin.begin(), bin.end() - static_cast<ptrdiff_t>(n),
              out.begin() + static_cast<ptrdiff_t>(n));
  if (samples < 0) std::copy(bin.begin() + static_cast<ptrdiff_t>(n), bin.end(), out.begin());
  return out;
}

// The preservation sets' layout: "film (Track NN).bin", a FILE line per track; with
// gap_sectors, each track after the first has that long a pre-gap of silence (INDEX 00)
// at the start of its file. The whole disc is moved by offset samples first.
std::string WriteBinPerTrack(const TempDir& dir, const Disc& d, int offset,
                             size_t gap_sectors = 0) {
  std::vector<uint8_t> disc;
  std::vector<size_t> starts;
  for (size_t t = 0, at = 0; t < d.lengths.size(); at += d.lengths[t++]) {
    if (t > 0) disc.resize(disc.size() + gap_sectors * kSector, 0);
    starts.push_back(disc.size());
    disc.insert(disc.end(), d.bin.begin() + static_cast<ptrdiff_t>(at),
                d.bin.begin() + static_cast<ptrdiff_t>(at + d.lengths[t]));
  }
  disc = Shifted(disc, offset);
  std::string cue;
  for (size_t t = 0; t < starts.size(); ++t) {
    const std::string name = "film (Track 0" + std::to_string(t + 1) + ").bin";
    const size_t from = starts[t] - (t > 0 ? gap_sectors * kSector : 0);
    WriteFileBytes(dir.File(name),
                   {disc.begin() + static_cast<ptrdiff_t>(from),
                    disc.begin() + static_cast<ptrdiff_t>(starts[t] + d.lengths[t])});
    cue += "FILE \"" + name + "\" BINARY\n  TRACK 0" + std::to_string(t + 1) + " AUDIO\n";
    if (t > 0 && gap_sectors > 0) cue += "    INDEX 00 00:00:00\n";
    cue += "    INDEX 01 00:0" + std::to_string(t > 0 ? gap_sectors / 75 : 0) + ":00\n";
  }
  WriteFileBytes(dir.File("split.cue"), std::vector<uint8_t>(cue.begin(), cue.end()));
  return dir.File("split.cue");
}

// The layout a ripper writes by default: a file per track, each ending in 2 s of the
// next track's pre-gap (its INDEX 00), keywords in lower case, and a data track last.
std::string WriteRippersCue(const TempDir& dir, const Disc& d) {
  std::string cue;
  size_t at = 0;
  for (size_t t = 0; t < d.lengths.size(); at += d.lengths[t++]) {
    const std::string name = "rip" + std::to_string(t + 1) + ".bin";
    std::vector<uint8_t> file(d.bin.begin() + static_cast<ptrdiff_t>(at),
                              d.bin.begin() + static_cast<ptrdiff_t>(at + d.lengths[t]));
    if (t + 1 < d.lengths.size()) file.resize(file.size() + 150 * kSector, 0);
    WriteFileBytes(dir.File(name), file);
    cue += "file \"" + name + "\" binary\n" + (t == 0 ? "  track 01 audio\n" : "") +
           "    index 01 00:00:00\n";
    if (t + 1 < d.lengths.size()) {
      const size_t sectors = d.lengths[t] / kSector;
      cue += "  track 0" + std::to_string(t + 2) + " audio\n    index 00 " +
             Format2(sectors / 75 / 60) + ":" + Format2(sectors / 75 % 60) + ":" +
             Format2(sectors % 75) + "\n";
    }
  }
  WriteFileBytes(dir.File("data.bin"), std::vector<uint8_t>(300 * kSector, 0x11));
  cue += "FILE \"data.bin\" BINARY\n  TRACK 05 MODE1/2352\n    INDEX 01 00:00:00\n";
  WriteFileBytes(dir.File("rippers.cue"), std::vector<uint8_t>(cue.begin(), cue.end()));
  return dir.File("rippers.cue");
}

// Runs ffmpeg to turn the video's streams into raw bytes.
std::vector<uint8_t> Raw(const TempDir& dir, const std::string& video,
                         const std::vector<std::string>& how) {
  std::vector<std::string> args = {"-i", video};
  args.insert(args.end(), how.begin(), how.end());
  args.push_back(dir.File("raw"));
  Ffmpeg(args);
  return ReadFileBytes(dir.File("raw"));
}

TEST(CliRip, ImagesGiveTheTracksPicturesAndSoundExactly) {
  TempDir dir;
  const Disc d = MakeDisc(dir);
  const Decoded tracks = DecodeTracks(d.tracks, 392);
  // 20 sectors of noise from 100 bytes into record 10 of the second track: the headers
  // of records 10, 11 and 12 are hit.
  std::vector<uint8_t> noisy = d.bin;
  const size_t noise_at = d.lengths[0] + 2048 + 10 * kRecord + 100;
  uint32_t seed = 12345;
  for (size_t i = 0; i < 20 * kSector; ++i)
    noisy[noise_at + i] = static_cast<uint8_t>((seed = seed * 1103515245 + 12345) >> 16);
  Decoded concealed = tracks;
  const size_t damaged_from = 40 + 10;  // records of the first track, then 10
  for (size_t r = damaged_from; r < damaged_from + 3; ++r) {
    std::memcpy(&concealed.rgb[r * cli::kRgbPictureSize],
                &concealed.rgb[(damaged_from - 1) * cli::kRgbPictureSize], cli::kRgbPictureSize);
    std::memset(&concealed.sound[r * 1960], 0x80, 1960);
  }
  struct Case {
    const char* name;
    std::function<std::vector<std::string>()> source;
    std::vector<std::string> options;
    const Decoded* expected;
    std::vector<std::string> summary;  // in the --json summary
  } cases[] = {
      {"one BIN and its cue, through libcdio",
       [&] { return std::vector<std::string>{dir.File("film.cue")}; },
       {},
       &tracks,
       {"\"read_through\": \"libcdio\"", "\"offset_samples\": 0,",
        "\"track\": 4, \"holds\": \"audio\""}},
      {"libcdio with paranoia",
       [&] { return std::vector<std::string>{dir.File("film.cue")}; },
       {"--paranoia", "full"},
       &tracks,
       {"libcdio with paranoia"}},
      {"a BIN per track, +92 samples",
       [&] { return std::vector<std::string>{WriteBinPerTrack(dir, d, 92)}; },
       {},
       &tracks,
       {"\"offset_samples\": 92,", "the sheet's files"}},
      {"a BIN per track, -80 samples",
       [&] { return std::vector<std::string>{WriteBinPerTrack(dir, d, -80)}; },
       {},
       &tracks,
       {"\"offset_samples\": -80,"}},
      {"a BIN per track, +700 samples",
       [&] { return std::vector<std::string>{WriteBinPerTrack(dir, d, 700)}; },
       {},
       &tracks,
       {"\"offset_samples\": 700, \"lead_in_bytes\": 392"}},
      {"2 s pre-gaps, +92 samples",
       [&] { return std::vector<std::string>{WriteBinPerTrack(dir, d, 92, 150)}; },
       {},
       &tracks,
       {"\"offset_samples\": 92,"}},
      {"a TOC with SWAP",
       [&] { return std::vector<std::string>{dir.File("film.toc")}; },
       {},
       &tracks,
       {"\"offset_samples\": 0,"}},
      {"a ripper's sheet: INDEX 00 in the file before, lower case, a data track",
       [&] { return std::vector<std::string>{WriteRippersCue(dir, d)}; },
       {},
       &tracks,
       {"\"offset_samples\": 0,", "\"track\": 5, \"holds\": \"data\""}},
      {"a TOC with a data track",
       [&] {
         std::vector<uint8_t> toc = ReadFileBytes(dir.File("film.toc"));
         const std::string data = "\nTRACK MODE1\nDATAFILE \"data.bin\" 00:04:00\n";
         toc.insert(toc.end(), data.begin(), data.end());
         WriteFileBytes(dir.File("data.toc"), toc);
         return std::vector<std::string>{dir.File("data.toc")};
       },
       {},
       &tracks,
       {"\"track\": 5, \"holds\": \"data\""}},
      {"a TOC without SWAP over a little-endian BIN: read the other way round",
       [&] {
         std::vector<uint8_t> toc = ReadFileBytes(dir.File("film.toc"));
         std::string text(toc.begin(), toc.end());
         for (size_t at; (at = text.find(" SWAP")) != std::string::npos;) text.erase(at, 5);
         WriteFileBytes(dir.File("noswap.toc"), std::vector<uint8_t>(text.begin(), text.end()));
         return std::vector<std::string>{dir.File("noswap.toc")};
       },
       {},
       &tracks,
       {"the sheet's files"}},
      {"track WAV files",
       [&] {
         return std::vector<std::string>{d.tracks[0], d.tracks[1], d.tracks[2]};
       },
       {},
       &tracks,
       {"track files"}},
      {"noise in a track",
       [&] {
         WriteFileBytes(dir.File("noisy.bin"), noisy);
         const std::vector<uint8_t> cue = ReadFileBytes(dir.File("film.cue"));
         std::string text(cue.begin(), cue.end());
         text.replace(text.find("film.bin"), 8, "noisy.bin");
         WriteFileBytes(dir.File("noisy.cue"), std::vector<uint8_t>(text.begin(), text.end()));
         return std::vector<std::string>{dir.File("noisy.cue")};
       },
       {},
       &concealed,
       {"\"damaged_records\": 3, \"damage\": [{\"first_record\": 10, \"records\": 3"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"rip"};
    for (const std::string& s : c.source()) args.push_back(s);
    args.insert(args.end(), {"-o", dir.File("film.mkv"), "--overwrite", "--json"});
    args.insert(args.end(), c.options.begin(), c.options.end());
    const CommandResult r = RunTrackloom(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& s : c.summary)
      EXPECT_NE(r.out.find(s), std::string::npos) << s << "\n" << r.out;
    EXPECT_EQ(Raw(dir, dir.File("film.mkv"),
                  {"-map", "0:v", "-f", "rawvideo", "-pix_fmt", "rgb24", "-y"}),
              c.expected->rgb);
    EXPECT_EQ(Raw(dir, dir.File("film.mkv"), {"-map", "0:a", "-f", "u8", "-y"}), c.expected->sound);
  }
  const CommandResult noisy_summary =
      RunTrackloom({"rip", dir.File("noisy.cue"), "-o", dir.File("n.mkv")});
  EXPECT_NE(
      noisy_summary.out.find("track 2: 3 damaged records at 0:00.6, shown as the picture before"),
      std::string::npos)
      << noisy_summary.out;
}

// The records of disc track t (0-based) that bytes [from, to) of the BIN touch.
uint64_t RecordsHit(const Disc& d, size_t t, size_t from, size_t to) {
  size_t start = 0;
  for (size_t i = 0; i < t; ++i) start += d.lengths[i];
  const size_t first = start + (t == 0 ? 392 : 2048);
  const size_t n = (d.lengths[t] - (first - start)) / kRecord;
  uint64_t hit = 0;
  for (size_t k = 0; k < n; ++k)
    hit += first + k * kRecord < to && first + (k + 1) * kRecord > from;
  return hit;
}

// What the --json summary says of each chapter: its title and damaged records.
std::string Chapters(const std::string& json) {
  std::string out;
  for (size_t at = 0; (at = json.find("\"title\": \"", at)) != std::string::npos;) {
    at += 10;
    out += json.substr(at, json.find('"', at) - at) + ":";
    const size_t d = json.find("\"damaged_records\": ", at) + 19;
    out += json.substr(d, json.find(',', d) - d) + " ";
  }
  return out;
}

// A disc image damaged as drives and rippers damage them: every track is its own
// chapter, every record lost is counted where it was lost, and the summary says so.
TEST(CliRip, DamagedImagesAccountForEveryRecord) {
  TempDir dir;
  const Disc d = MakeDisc(dir);
  const size_t s2 = d.lengths[0], s3 = s2 + d.lengths[1];
  const size_t t2_record5 = s2 + 2048 + 5 * kRecord;
  const size_t boundary_from = s3 - 85 * kSector, boundary_to = s3 + 85 * kSector;
  const auto zero = [](std::vector<uint8_t> b, size_t from, size_t to) {
    std::fill(b.begin() + static_cast<ptrdiff_t>(from), b.begin() + static_cast<ptrdiff_t>(to), 0);
    return b;
  };
  const auto flip = [](std::vector<uint8_t> b, size_t at) {
    b[at] ^= 0xFF;
    return b;
  };
  // 4 bytes lost inside record 5 of track 2: the records after it come 4 bytes early.
  std::vector<uint8_t> slipped = d.bin;
  slipped.erase(slipped.begin() + static_cast<ptrdiff_t>(t2_record5 + 1000),
                slipped.begin() + static_cast<ptrdiff_t>(t2_record5 + 1004));
  slipped.insert(slipped.begin() + static_cast<ptrdiff_t>(s3 - 8), 4, 0);
  // Track 3 four sectors short, its last record cut: track 4 begins at once.
  const size_t s4 = s3 + d.lengths[2];
  std::vector<uint8_t> short3 = d.bin;
  short3.erase(short3.begin() + static_cast<ptrdiff_t>(s4 - 4 * kSector),
               short3.begin() + static_cast<ptrdiff_t>(s4));
  std::vector<uint8_t> track3 = ReadFileBytes(d.tracks[2]);
  track3.resize(track3.size() / 2);
  WriteFileBytes(dir.File("cut.wav"), track3);
  const std::vector<std::string> cut_wavs = {d.tracks[0], d.tracks[1], dir.File("cut.wav")};
  const std::string whole = "Every record was read whole";
  const struct {
    const char* name;
    std::vector<uint8_t> bin;
    std::string chapters;  // title:damaged of each
    std::string summary;   // in the summary (a leading '!': not in it)
    int status = 0;
    size_t track4_earlier = 0;           // sectors earlier the sheet starts track 4
    std::vector<std::string> sources{};  // instead of the image
  } cases[] = {
      {"the first record's header damaged", flip(d.bin, 392 + 30),
       "Track 01:1 Track 02:0 Track 03:0 ", "track 1: 1 damaged record at 0:00.0"},
      {"the first sector zeroed", zero(d.bin, 0, kSector), "Track 01:1 Track 02:0 Track 03:0 ",
       "!" + whole},
      {"read 513 samples early", Shifted(d.bin, -513), "Track 01:1 Track 02:0 Track 03:0 ",
       "offset -513 samples"},
      {"read 300 samples early", Shifted(d.bin, -300), "Track 01:1 Track 02:0 Track 03:0 ",
       "Track 02: 108 records (0:06.0), offset -300 samples"},
      {"track 2's first record damaged", flip(d.bin, s2 + 2048 + 50),
       "Track 01:0 Track 02:1 Track 03:0 ", "Track 02: 108 records (0:06.0), offset +0 samples, 1"},
      {"track 3's last record damaged", flip(d.bin, s3 + 2048 + 107 * kRecord + 10),
       "Track 01:0 Track 02:0 Track 03:1 ", "track 3: 1 damaged record at 0:05.9"},
      {"170 zeroed sectors across a track's start", zero(d.bin, boundary_from, boundary_to),
       "Track 01:0 Track 02:" + std::to_string(RecordsHit(d, 1, boundary_from, boundary_to)) +
           " Track 03:" + std::to_string(RecordsHit(d, 2, boundary_from, boundary_to)) + " ",
       "Track 03: 108 records (0:06.0), offset +0 samples, "},
      {"a zeroed sector inside a record", zero(d.bin, s2 + 10 * kSector, s2 + 11 * kSector),
       "Track 01:0 Track 02:" +
           std::to_string(RecordsHit(d, 1, s2 + 10 * kSector, s2 + 11 * kSector)) + " Track 03:0 ",
       "!" + whole},
      {"a 4-byte slip", slipped, "Track 01:0 Track 02:0 Track 03:0 ", whole},
      {"a short track's last record cut", short3, "Track 01:0 Track 02:0 Track 03:1 ",
       "track 3: 1 damaged record at 0:05.9", 0, 4},
      {"cut inside track 3",
       {d.bin.begin(), d.bin.begin() + static_cast<ptrdiff_t>(t2_record5 + s3 - s2 + 5000)},
       "Track 01:0 Track 02:0 Track 03:1 ",
       "The source ends early: track 3 cut short after 0:00.6 of 0:12.0, track 4 missing.",
       1},
      {"cut inside the last track",
       {d.bin.begin(), d.bin.end() - 1000},
       "Track 01:0 Track 02:0 Track 03:0 ",
       "The source ends early: track 4 cut short after 0:05.0.",
       1},
      {"a track file cut short", d.bin, "Track 01:0 Track 02:0 Track 03:1 ",
       "The source ends early: track 3 cut short after 0:06.0 of 0:12.0.", 1, 0, cut_wavs},
  };
  std::string cue_text;
  {
    const std::vector<uint8_t> cue = ReadFileBytes(dir.File("film.cue"));
    cue_text.assign(cue.begin(), cue.end());
    cue_text.replace(cue_text.find("film.bin"), 8, "damaged.bin");
  }
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(dir.File("damaged.bin"), c.bin);
    std::string cue = cue_text;
    const size_t index = cue.rfind("INDEX 01 ") + 9;
    const size_t sector = s4 / kSector - c.track4_earlier;
    cue.replace(
        index, 8,
        Format2(sector / 4500) + ":" + Format2(sector / 75 % 60) + ":" + Format2(sector % 75));
    WriteFileBytes(dir.File("damaged.cue"), std::vector<uint8_t>(cue.begin(), cue.end()));
    std::vector<std::string> rip = {"rip", dir.File("damaged.cue")};
    if (!c.sources.empty()) rip = {"rip", c.sources[0], c.sources[1], c.sources[2]};
    rip.insert(rip.end(), {"-o", dir.File("d.mkv"), "--overwrite"});
    std::vector<std::string> json = rip;
    json.push_back("--json");
    std::filesystem::remove(dir.File("d.mkv"));
    const CommandResult j = RunTrackloom(json);
    EXPECT_EQ(j.status, c.status) << j.err;
    EXPECT_EQ(j.err.find(" early (") == std::string::npos, c.status == 0) << j.err;
    EXPECT_TRUE(std::filesystem::exists(dir.File("d.mkv")));
    EXPECT_EQ(Chapters(j.out), c.chapters) << j.out;
    const CommandResult r = RunTrackloom(rip);
    const bool absent = c.summary[0] == '!';
    EXPECT_EQ(r.out.find(c.summary.substr(absent ? 1 : 0)) == std::string::npos, absent) << r.out;
  }
}

// The video for watching, one file a track, and what is refused with nothing written.
TEST(CliRip, WatchingCopiesEachTrackAndRefusals) {
  TempDir dir;
  const Disc d = MakeDisc(dir);
  const std::string cue = dir.File("film.cue");
  CommandResult r = RunTrackloom({"rip", cue, "-o", dir.File("film.mp4"), "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  r = RunCommand({"ffprobe", "-v", "error", "-count_frames", "-select_streams", "v",
                  "-show_entries",
                  "stream=codec_name,width,height,nb_read_frames:chapter=start_time", "-of",
                  "csv=p=0", dir.File("film.mp4")});
  EXPECT_EQ(r.out, "h264,576,432,256\n0.000000\n2.222000\n8.222000\n") << r.err;
  r = RunCommand({"ffprobe", "-v", "error", "-select_streams", "a", "-show_entries",
                  "stream=codec_name", "-of", "csv=p=0", dir.File("film.mp4")});
  EXPECT_EQ(r.out, "aac\n");
  r = RunTrackloom({"rip", cue, "-o", dir.File("each/film.mkv"), "--each", "--quiet"});
  EXPECT_EQ(r.status, 1) << "no such directory";
  std::filesystem::create_directory(dir.File("each"));
  r = RunTrackloom({"rip", cue, "-o", dir.File("each/film.mkv"), "--each", "--quiet"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(ListDirectory(dir.File("each")),
            (std::vector<std::string>{"film-01.mkv", "film-02.mkv", "film-03.mkv"}));

  Ffmpeg({"-f", "lavfi", "-i", "sine=frequency=300:duration=12", "-ac", "2", "-ar", "44100", "-f",
          "s16le", dir.File("music.bin")});
  WriteFileBytes(dir.File("music.cue"), ReadFileBytes(cue));
  std::filesystem::resize_file(dir.File("music.bin"), d.bin.size());
  std::filesystem::create_symlink(dir.File("target.mkv"), dir.File("link.mkv"));
  WriteFileBytes(dir.File("data.bin"), std::vector<uint8_t>(600 * kSector, 0x11));
  const std::string data_cue =
      "FILE \"data.bin\" BINARY\n  TRACK 01 MODE1/2352\n    INDEX 01 00:00:00\n";
  WriteFileBytes(dir.File("data.cue"), std::vector<uint8_t>(data_cue.begin(), data_cue.end()));
  std::filesystem::create_directory(dir.File("each-full"));
  ASSERT_EQ(::mkfifo(dir.File("fifo.cue").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(dir.File("fifo.bin").c_str(), 0600), 0);
  for (const char* bin : {"fifo.bin", "/dev/zero"}) {
    const std::string text =
        std::string("FILE \"") + bin + "\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
    WriteFileBytes(dir.File(bin[0] == '/' ? "zero.cue" : "fifo-bin.cue"),
                   std::vector<uint8_t>(text.begin(), text.end()));
  }
  const struct {
    const char* name;
    std::vector<std::string> args;
    int status;
    std::string message;
    uint64_t file_size_limit = 0;  // a full disk, as far as the writer can tell
  } refusals[] = {
      {"a music CD",
       {dir.File("music.cue"), "-o", dir.File("music.mkv")},
       1,
       "no records of this player found in"},
      {"a link at the video", {cue, "-o", dir.File("link.mkv"), "--overwrite"}, 1, "symbolic link"},
      {"a full disk", {cue, "-o", dir.File("full.mkv")}, 1, "cannot ", 64 * 1024},
      {"a full disk with --each: the finished videos named",
       {cue, "-o", dir.File("each-full/film.mkv"), "--each"},
       1,
       "complete and kept: " + dir.File("each-full/film-01.mkv"),
       1 << 20},
      {"a data CD",
       {dir.File("data.cue"), "-o", dir.File("music.mkv")},
       1,
       "found in '" + dir.File("data.cue")},
      {"the video exists",
       {cue, "-o", dir.File("film.mp4")},
       1,
       "already exists (give --overwrite"},
      {"a FIFO as the sheet", {dir.File("fifo.cue"), "-o", dir.File("x.mkv")}, 1, "FIFO"},
      {"a FIFO as its BIN", {dir.File("fifo-bin.cue"), "-o", dir.File("x.mkv")}, 1, "FIFO"},
      {"a device as its BIN", {dir.File("zero.cue"), "-o", dir.File("x.mkv")}, 1, "regular file"},
      {"no such drive", {"/dev/sr97", "-o", dir.File("x.mkv")}, 1, "'/dev/sr97' does not exist"},
      {"a video without chapters", {cue, "-o", dir.File("x.avi")}, 2, ".mkv, .mp4, .mov or .m4v"},
      {"no output", {cue}, 2, "no video named"},
      {"unknown extension", {cue, "-o", dir.File("x.txt")}, 2, "end it in .mkv, .mp4"},
      {"view for an archive", {cue, "-o", dir.File("x.mkv"), "--view", "panel"}, 2, "are for .mp4"},
      {"paranoia mode",
       {cue, "-o", dir.File("x.mkv"), "--paranoia", "most"},
       2,
       "full, normal or off"},
      {"two images",
       {cue, dir.File("film.toc"), "-o", dir.File("x.mkv")},
       1,
       "one CD drive or one disc image"},
      {"not a source", {dir.File("film.bin"), "-o", dir.File("x.mkv")}, 1, "cannot tell what"},
      {"a track that is not CD audio",
       {dir.File("tracks"), "-o", dir.File("x.mkv")},
       1,
       "cannot tell what"},
  };
  for (const auto& c : refusals) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = {"rip"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    RunOptions options;
    options.file_size_limit = c.file_size_limit;
    options.timeout_seconds = 60;
    r = RunTrackloom(args, options);
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
  }
  EXPECT_FALSE(std::filesystem::exists(dir.File("music.mkv")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("full.mkv")));
  EXPECT_FALSE(std::filesystem::exists(dir.File("target.mkv")));
  EXPECT_EQ(ListDirectory(dir.File("each-full")), std::vector<std::string>{"film-01.mkv"});
  for (const std::string& name : ListDirectory(dir.path()))
    EXPECT_NE(name[0], '.') << "left behind: " << name;
  EXPECT_FALSE(std::filesystem::exists(dir.File("x.mkv")));
}

// A name that comes to exist while the disc is read is left as it is, without
// --overwrite: the rip fails and leaves no hidden file.
TEST(CliRip, NameTakenDuringTheRipIsLeftAsItIs) {
  TempDir dir;
  MakeDisc(dir);
  std::filesystem::create_directory(dir.File("run"));
  std::filesystem::create_directory(dir.File("out"));
  const pid_t pid = StartTrackloom(
      {"rip", dir.File("film.cue"), "-o", dir.File("out/late.mkv"), "--quiet"}, dir.File("run"));
  bool stopped = false;
  for (int i = 0; i < 20000 && !stopped; ++i) {
    for (const std::string& name : ListDirectory(dir.File("out"))) {
      if (name.rfind(".late-", 0) == 0 && !stopped) {
        SignalTrackloom(pid, SIGSTOP);
        stopped = true;
      }
    }
    if (!stopped) usleep(500);
  }
  WriteFileBytes(dir.File("out/late.mkv"), {'m', 'i', 'n', 'e'});
  SignalTrackloom(pid, SIGCONT);
  const CommandResult r = WaitFor(pid, dir.File("run"));
  ASSERT_TRUE(stopped) << "the rip ended before its hidden file was seen";
  EXPECT_EQ(r.status, 1) << r.err;
  EXPECT_NE(r.err.find("appeared while the disc was read"), std::string::npos) << r.err;
  EXPECT_EQ(ListDirectory(dir.File("out")), std::vector<std::string>{"late.mkv"});
  EXPECT_EQ(ReadFileBytes(dir.File("out/late.mkv")), (std::vector<uint8_t>{'m', 'i', 'n', 'e'}));
}

// One stop signal ends the rip wherever it is: in a WAV file of millions of empty
// chunks (walked for minutes), in libcdio's paranoia reading a long image.
TEST(CliRip, OneStopSignalEndsEveryScan) {
  TempDir dir;
  // RIFF, WAVE and a format chunk of CD audio, then empty chunks to the end.
  WriteFileBytes(dir.File("chunks.wav"),
                 {'R',  'I',  'F', 'F', 0xf0, 0xff, 0xff, 0xff, 'W', 'A', 'V', 'E',
                  'f',  'm',  't', ' ', 16,   0,    0,    0,    1,   0,   2,   0,
                  0x44, 0xac, 0,   0,   0x10, 0xb1, 2,    0,    4,   0,   16,  0});
  std::filesystem::resize_file(dir.File("chunks.wav"), uint64_t{8} << 30);
  WriteFileBytes(dir.File("silence.bin"), {});
  std::filesystem::resize_file(dir.File("silence.bin"), 425000 * kSector);  // 94 minutes
  const std::string cue = "FILE \"silence.bin\" BINARY\n  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n";
  WriteFileBytes(dir.File("silence.cue"), std::vector<uint8_t>(cue.begin(), cue.end()));
  const std::vector<std::string> scans[] = {
      {dir.File("chunks.wav")},
      {dir.File("silence.cue"), "--paranoia", "full"},
  };
  for (const std::vector<std::string>& scan : scans) {
    SCOPED_TRACE(scan[0]);
    std::vector<std::string> args = {"rip"};
    args.insert(args.end(), scan.begin(), scan.end());
    args.insert(args.end(), {"-o", dir.File("x.mkv")});
    const pid_t pid = StartTrackloom(args, dir.path());
    usleep(1000 * 1000);
    SignalTrackloom(pid, SIGTERM);
    const auto signalled = std::chrono::steady_clock::now();
    const CommandResult r = WaitFor(pid, dir.path());
    // A guard against a rip that goes on after the signal, not a measure of speed.
    EXPECT_LT(std::chrono::steady_clock::now() - signalled, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 128 + SIGTERM) << r.err;
    EXPECT_NE(r.err.find("interrupted; no video was written"), std::string::npos) << r.err;
  }
}

}  // namespace
}  // namespace trackloom::testing
