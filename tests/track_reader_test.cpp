// The track reader against tracks made by the core's writer and encoder, and against
// damaged copies of them: every problem found, at the right byte offset.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "cli/tracks/track_reader.h"
#include "core/frame_encoder.h"
#include "core/track_format.h"
#include "core/track_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/track_test_support.h"

namespace trackloom::cli {
namespace {

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

TrackReport Inspect(const std::vector<uint8_t>& bytes, bool lenient = false) {
  MemorySource source(bytes.data(), bytes.size());
  InspectOptions options;
  options.lenient = lenient;
  return InspectTrack(source, options);
}

std::string ListProblems(const TrackReport& r) {
  std::string text;
  for (const TrackProblem& p : r.problems) text += "  " + std::to_string(p.offset) + ": " + p.what + "\n";
  return text;
}

bool HasProblem(const TrackReport& r, uint64_t offset, const std::string& words) {
  for (const TrackProblem& p : r.problems) {
    if (p.offset == offset && p.what.find(words) != std::string::npos) return true;
  }
  return false;
}

TEST(TrackReader, CoreTracksDecodeToTheQuantisedPicturesAndTheirOwnSound) {
  struct Case {
    const char* name;
    int records;
    long sound_bytes;  // -1: no sound file
  };
  const Case cases[] = {
      {"one record, no sound", 1, -1},
      {"five records, no sound", 5, -1},
      {"sound longer than the video", 4, 4 * 1960 + 777},
      {"sound exactly as long", 3, 3 * 1960},
      {"sound ends inside record 2", 5, 2 * 1960 + 500},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    std::vector<uint8_t> samples;
    if (c.sound_bytes >= 0) samples = track_test::SoundRamp(static_cast<size_t>(c.sound_bytes));
    const std::string path = track_test::WriteCoreTrack(dir, c.records, c.sound_bytes >= 0 ? &samples : nullptr);
    const std::vector<uint8_t> bytes = ReadFileBytes(path);

    const TrackReport report = Inspect(bytes);
    EXPECT_TRUE(report.valid()) << ListProblems(report);
    EXPECT_EQ(report.file_length, 2092u + 19600u * static_cast<uint64_t>(c.records));
    EXPECT_EQ(report.first_record, 2092u);
    EXPECT_EQ(report.lead_in_length, 2048u);
    EXPECT_EQ(report.record_count, static_cast<uint64_t>(c.records));
    EXPECT_EQ(report.wav.riff_size, bytes.size() - 8);
    EXPECT_EQ(report.wav.data_size, bytes.size() - 44);
    EXPECT_DOUBLE_EQ(report.video_seconds(), c.records / 18.0);
    // The data chunk, lead-in and records, played as CD audio.
    EXPECT_DOUBLE_EQ(report.disc_seconds(), static_cast<double>(bytes.size() - 44) / 176400.0);

    // Whole chunks of sound are in the records that read them; the rest is silence.
    const uint64_t sounding = c.sound_bytes < 0 ? 0 : std::min<uint64_t>(c.records, static_cast<uint64_t>(c.sound_bytes) / 1960);
    EXPECT_EQ(report.records_with_sound, sounding);

    std::vector<uint8_t> rgb(kRgbPictureSize);
    std::vector<uint8_t> sound(kAudioChunkSize);
    for (int k = 0; k < c.records; ++k) {
      const uint8_t* record = bytes.data() + 2092 + 19600 * k;
      DecodeFramePicture(record + 400, rgb.data());
      ASSERT_EQ(rgb, track_test::QuantisedPicture(k)) << "record " << k;
      ExtractRecordSound(record, sound.data());
      std::vector<uint8_t> expected(kAudioChunkSize, 0x80);
      if (static_cast<uint64_t>(k) < sounding) {
        std::copy_n(samples.begin() + 1960 * k, 1960, expected.begin());
      }
      ASSERT_EQ(sound, expected) << "record " << k;
    }
  }
}

// A valid three-record track with sound, and copies of it damaged in one way each.
TEST(TrackReader, NamesTheProblemOfEveryDamagedCopy) {
  TempDir dir;
  const std::vector<uint8_t> samples = track_test::SoundRamp(3 * 1960);
  const std::vector<uint8_t> good = ReadFileBytes(track_test::WriteCoreTrack(dir, 3, &samples));
  ASSERT_EQ(good.size(), 2092u + 3 * 19600u);

  using Bytes = std::vector<uint8_t>;
  auto put32 = [](Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  auto fix_sizes = [&](Bytes& b) {
    put32(b, 4, static_cast<uint32_t>(b.size() - 8));
    put32(b, 40, static_cast<uint32_t>(b.size() - 44));
  };
  // Another encoder's lead-in of `length` bytes, sizes made right.
  auto lead_in = [&](size_t length) {
    return [&, length](Bytes& b) {
      Bytes out(b.begin(), b.begin() + 44);
      out.resize(44 + length, 0);
      out.insert(out.end(), b.begin() + 2092, b.end());
      b = out;
      fix_sizes(b);
    };
  };

  struct Case {
    const char* name;
    std::function<void(Bytes&)> damage;
    bool lenient;
    bool valid;
    uint64_t offset;    // where the (first listed) problem is
    const char* words;  // what it says
  };
  const Case cases[] = {
      {"untouched", [](Bytes&) {}, false, true, 0, ""},
      {"a sound byte in a header slot", [](Bytes& b) { b[2092 + 19600 + 9] ^= 0x55; }, false, true, 0, ""},
      {"flipped sync byte", [](Bytes& b) { b[2092 + 19600 + 45] ^= 0x01; }, false, false,
       2092 + 19600 + 45, "record 1: the record header differs from the template in 1 data byte"},
      {"flipped level-table address", [](Bytes& b) { b[2092 + 19600 + 245] ^= 0x01; }, false, false,
       2092 + 19600 + 245, "record 1: the record header's level tables are damaged; header byte 245 is 0x03"},
      {"a level past 31", [](Bytes& b) { b[2092 + 19600 + 244] = 0x20; }, false, false,
       2092 + 19600 + 244, "record 1: the record header's level tables are damaged; header byte 244 is 0x20"},
      {"another level in one table", [](Bytes& b) { b[2092 + 19600 + 244] = 0x1E; }, false, true, 0, ""},
      {"record 0 header cleared", [](Bytes& b) { std::fill_n(b.begin() + 2092, 400, 0); }, false, false,
       2092, "record 0: the record header differs"},
      {"truncated record", [](Bytes& b) { b.resize(b.size() - 100); }, false, false, 4,
       "claims 100 bytes more than the file holds"},
      {"truncated record, sizes patched", [&](Bytes& b) { b.resize(b.size() - 100); fix_sizes(b); }, false, false,
       2092 + 2 * 19600, "record 2 is cut off: only 19500 of its 19600 bytes"},
      {"RIFF size one more", [&](Bytes& b) { put32(b, 4, static_cast<uint32_t>(b.size() - 7)); }, false, false, 4,
       "RIFF size field is"},
      {"data size never patched", [&](Bytes& b) { put32(b, 40, 0); }, false, false, 40, "never finished"},
      {"huge data size", [&](Bytes& b) { put32(b, 40, 0xFFFFFFF0u); }, false, false, 40,
       "data size field is 4294967280"},
      {"bytes appended", [&](Bytes& b) { b.resize(b.size() + 30, 0x80); }, false, false, 4,
       "the file has 30 bytes more than it states"},
      {"sector padding of a track split out of a disc image",
       [&](Bytes& b) { b.resize(b.size() + 304, 0); fix_sizes(b); }, false, true, 0, ""},
      {"zero bytes the size fields leave out", [&](Bytes& b) { b.resize(b.size() + 304, 0); }, false, false, 4,
       "the file has 304 bytes more than it states"},
      {"a whole record of zeros", [&](Bytes& b) { b.resize(b.size() + 19600, 0); fix_sizes(b); }, false, false,
       2092 + 3 * 19600, "record 3: the record header differs"},
      {"zeros after the start of a record", [&](Bytes& b) {
         const Bytes head(b.begin() + 2092, b.begin() + 2192);
         b.insert(b.end(), head.begin(), head.end());
         b.resize(b.size() + 200, 0);
         fix_sizes(b);
       }, false, false, 2092 + 3 * 19600, "record 3 is cut off: only 300 of its 19600 bytes"},
      {"non-zero lead-in", [](Bytes& b) { b[44 + 1000] = 0x80; b[44 + 1500] = 1; }, false, false, 1044,
       "the lead-in holds 2 non-zero bytes"},
      {"lead-in of 1000 bytes", lead_in(1000), false, false, 44,
       "the lead-in is 1000 bytes, expected 2048: the first record header is at offset 1044"},
      {"lead-in of 1000 bytes, lenient", lead_in(1000), true, true, 0, ""},
      {"lead-in of 4096 bytes, lenient", lead_in(4096), true, true, 0, ""},
      {"no lead-in, lenient", lead_in(0), true, true, 0, ""},
      {"no lead-in", lead_in(0), false, false, 44, "the lead-in is 0 bytes"},
      {"RIFX", [](Bytes& b) { b[3] = 'X'; }, false, false, 0, "the RIFF tag is \"RIFX\""},
      {"not WAVE", [](Bytes& b) { b[8] = 'A'; }, false, false, 8, "the form type is \"AAVE\""},
      {"fmt tag", [](Bytes& b) { b[12] = 0; }, false, false, 12, "bytes 00 6D 74 20"},
      {"format chunk length 18", [&](Bytes& b) { put32(b, 16, 18); }, false, false, 16, "is 18, expected 16"},
      {"float format", [](Bytes& b) { b[20] = 3; }, false, false, 20, "is 3, expected 1"},
      {"mono", [](Bytes& b) { b[22] = 1; }, false, false, 22, "the channel count is 1, expected 2"},
      {"48000 Hz", [&](Bytes& b) { put32(b, 24, 48000); }, false, false, 24, "the sample rate is 48000, expected 44100"},
      {"byte rate", [&](Bytes& b) { put32(b, 28, 88200); }, false, false, 28, "the byte rate is 88200, expected 176400"},
      {"block alignment", [](Bytes& b) { b[32] = 2; }, false, false, 32, "the block alignment is 2, expected 4"},
      {"8-bit", [](Bytes& b) { b[34] = 8; }, false, false, 34, "the bits per sample is 8, expected 16"},
      {"LIST instead of data", [](Bytes& b) { std::memcpy(&b[36], "LIST", 4); }, false, false, 36,
       "the data chunk tag is \"LIST\""},
      {"empty file", [](Bytes& b) { b.clear(); }, false, false, 0, "the file is empty"},
      {"20 bytes", [](Bytes& b) { b.resize(20); }, false, false, 20, "inside the 44-byte WAV header"},
      {"header only", [&](Bytes& b) { b.resize(44); fix_sizes(b); }, false, false, 44, "inside the 2048-byte lead-in"},
      {"header and lead-in only", [&](Bytes& b) { b.resize(2092); fix_sizes(b); }, false, false, 2092,
       "no frame records after the lead-in"},
      {"garbage after the header", [&](Bytes& b) {
         std::mt19937 random(7);
         for (size_t i = 44; i < b.size(); ++i) b[i] = static_cast<uint8_t>(random());
       }, false, false, 44, "no record header anywhere in the file"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes bytes = good;
    c.damage(bytes);
    const TrackReport report = Inspect(bytes, c.lenient);
    EXPECT_EQ(report.valid(), c.valid) << ListProblems(report);
    EXPECT_FALSE(report.read_failed);
    if (!c.valid) {
      EXPECT_TRUE(HasProblem(report, c.offset, c.words))
          << "expected at " << c.offset << ": " << c.words << "\nfound:\n" << ListProblems(report);
    }
    // Whatever the damage, the records found lie inside the file.
    EXPECT_LE(report.first_record + report.record_count * 19600 + report.partial_record_bytes,
              std::max<uint64_t>(bytes.size(), report.first_record));
  }
}

// Tracks whose records carry level tables of their own, as retail tracks do: read
// whole, reported, and shown at their levels.
TEST(TrackReader, ReadsAndShowsAnyLevelTables) {
  TempDir dir;
  const std::vector<uint8_t> core = ReadFileBytes(track_test::WriteCoreTrack(dir, 3, nullptr));
  levels::Tables inverted{}, retail_like{}, flat{};
  const uint8_t retail_red[16] = {0, 1, 5, 7, 9, 11, 13, 14, 18, 20, 21, 24, 25, 27, 29, 31};
  for (int c = 0; c < 3; ++c) {
    for (int n = 0; n < 16; ++n) {
      inverted.level[c][n] = static_cast<uint8_t>(31 - 2 * n);
      retail_like.level[c][n] = static_cast<uint8_t>(retail_red[n] ^ (c == 2 && n == 7 ? 1 : 0));
      flat.level[c][n] = 0;
    }
  }
  struct Case {
    const char* name;
    levels::Tables tables;
    bool lead_in_392;  // a retail lead-in, read with lenient
  };
  const Case cases[] = {
      {"standard", levels::StandardTables(), false},
      {"inverted", inverted, false},
      {"retail-like, 392-byte lead-in", retail_like, true},
      {"every level 0", flat, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> bytes = core;
    for (size_t at = 2092; at < bytes.size(); at += 19600) levels::PutTables(&bytes[at], c.tables);
    if (c.lead_in_392) {
      bytes.erase(bytes.begin() + 44, bytes.begin() + 44 + (2048 - 392));
      wav::PutLe32(&bytes[4], static_cast<uint32_t>(bytes.size() - 8));
      wav::PutLe32(&bytes[40], static_cast<uint32_t>(bytes.size() - 44));
    }
    const TrackReport report = Inspect(bytes, c.lead_in_392);
    EXPECT_TRUE(report.valid()) << (report.problems.empty() ? "" : report.problems[0].what);
    ASSERT_EQ(report.record_count, 3u);
    EXPECT_TRUE(report.levels_known);
    EXPECT_TRUE(levels::SameTables(report.levels, c.tables));
    MemorySource source(bytes.data(), bytes.size());
    EXPECT_EQ(FindRecordHeader(source, 0), report.first_record);

    // Every component of the decoded picture is its stored value's level as shown.
    const uint8_t* record = bytes.data() + report.first_record + 19600;
    std::vector<uint8_t> shown(kRgbPictureSize), stored(kRgbPictureSize);
    DecodeRecordPicture(record, shown.data());
    DecodeFramePicture(record + 400, stored.data());
    int stored_value[256] = {};  // the standard ramp's shown values are all different
    for (int n = 0; n < 16; ++n) stored_value[levels::ShownValue(levels::kStandardRamp[n])] = n;
    for (size_t i = 0; i < shown.size(); ++i) {
      ASSERT_EQ(shown[i], levels::ShownValue(c.tables.level[i % 3][stored_value[stored[i]]]))
          << "byte " << i;
    }
  }
}

TEST(TrackReader, LenientReadingFindsRecordsAfterAForeignLeadIn) {
  TempDir dir;
  const std::vector<uint8_t> samples = track_test::SoundRamp(2 * 1960);
  std::vector<uint8_t> bytes = ReadFileBytes(track_test::WriteCoreTrack(dir, 2, &samples));
  bytes.erase(bytes.begin() + 44, bytes.begin() + 44 + 1536);  // a 512-byte lead-in
  const TrackReport report = Inspect(bytes, true);
  EXPECT_EQ(report.first_record, 44u + 512u);
  EXPECT_EQ(report.lead_in_length, 512u);
  EXPECT_EQ(report.record_count, 2u);
  std::vector<uint8_t> rgb(kRgbPictureSize);
  DecodeRecordPicture(bytes.data() + report.first_record + 19600, rgb.data());
  EXPECT_EQ(rgb, track_test::QuantisedPicture(1));
}

TEST(TrackReader, EveryCutOfATrackIsReportedWithoutReadingPastItsEnd) {
  TempDir dir;
  const std::vector<uint8_t> samples = track_test::SoundRamp(2 * 1960);
  const std::vector<uint8_t> good = ReadFileBytes(track_test::WriteCoreTrack(dir, 2, &samples));
  for (size_t length = 0; length < good.size(); length += 97) {
    SCOPED_TRACE(length);
    // A buffer of exactly the cut length, so that the sanitizer build sees any overread.
    const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<ptrdiff_t>(length));
    for (const bool lenient : {false, true}) {
      const TrackReport report = Inspect(cut, lenient);
      EXPECT_FALSE(report.valid());
      ASSERT_FALSE(report.problems.empty());
      EXPECT_LE(report.problems.back().offset, length);
    }
  }
}

TEST(TrackReader, ListsAtMostAHundredProblemsAndCountsTheRest) {
  TempDir dir;
  std::vector<uint8_t> bytes = ReadFileBytes(track_test::WriteCoreTrack(dir, 150, nullptr));
  for (int k = 0; k < 150; ++k) bytes[2092 + 19600 * static_cast<size_t>(k) + 390] = 0;  // group 39
  const TrackReport report = Inspect(bytes);
  EXPECT_EQ(report.bad_header_records, 150u);
  // With no intact header anywhere, that is said first, then each record's header.
  EXPECT_EQ(report.problem_count, 151u);
  ASSERT_EQ(report.problems.size(), kMaxListedProblems);
  EXPECT_EQ(report.problems[0].offset, 44u);
  EXPECT_NE(report.problems[0].what.find("no record header anywhere"), std::string::npos);
  EXPECT_EQ(report.problems[99].offset, 2092u + 19600u * 98u + 390u);
  EXPECT_NE(report.problems[99].what.find("record 98: the record header differs from the template "
                                          "in 1 data byte; header byte 390 is 0x00, expected 0xFF"),
            std::string::npos)
      << report.problems[99].what;
}

TEST(TrackReader, FileSourceReportsWhatCannotBeOpened) {
  TempDir dir;
  std::string error;
  EXPECT_EQ(FileSource::Open(dir.File("missing.wav"), &error), nullptr);
  EXPECT_NE(error.find("No such file"), std::string::npos) << error;
  EXPECT_EQ(FileSource::Open(dir.path(), &error), nullptr);
  EXPECT_EQ(error, "it is a directory");

  WriteFileBytes(dir.File("t.wav"), {1, 2, 3, 4, 5});
  auto source = FileSource::Open(dir.File("t.wav"), &error);
  ASSERT_NE(source, nullptr);
  EXPECT_EQ(source->Size(), 5u);
  uint8_t got[3] = {};
  EXPECT_TRUE(source->ReadAt(2, got, 3));
  EXPECT_EQ(got[0], 3);
  EXPECT_EQ(got[2], 5);
  EXPECT_FALSE(source->ReadAt(3, got, 3));  // past the end: refused, not read
}

// Hand-made frame blocks: one nibble each, and where it must show in the picture.
TEST(TrackReader, DecodesEachNibbleIntoItsPixelAndComponent) {
  struct Case {
    const char* name;
    int block_offset;
    uint8_t value;
    int x, y, component;  // the one non-black component (0 red, 1 green, 2 blue)
    uint8_t expected;
  };
  const Case cases[] = {
      {"line 0 nibble 0: red of the top-left pixel", 0, 0x0F, 0, 0, 0, 255},
      {"line 1 nibble 0: green of the top-left pixel", 120, 0x0F, 0, 0, 1, 255},
      {"line 1 nibble 1: blue of the top-left pixel", 120, 0xF0, 0, 0, 2, 255},
      {"line 0 nibble 1: green of column 1", 0, 0x10, 1, 0, 1, 16},
      {"line 0 nibble 2: blue of column 1", 1, 0x0F, 1, 0, 2, 255},
      {"line 1 nibble 2: red of column 1", 121, 0x07, 1, 0, 0, 115},
      {"line 0 group 1: red of column 12", 10, 0x01, 12, 0, 0, 16},
      {"line 0 last nibble: blue of column 143", 11 * 10 + 8, 0xF0, 143, 0, 2, 255},
      {"line 159 last nibble: red of column 143, row 79", 159 * 120 + 118, 0xF0, 143, 79, 0, 255},
      {"line 158 first nibble: red of column 0, row 79", 158 * 120, 0x03, 0, 79, 0, 49},
      {"line 3 nibble 3: green of column 2, row 1", 3 * 120 + 1, 0xA0, 2, 1, 1, 173},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> block(kFrameBlockSize, 0);
    for (size_t i = 9; i < block.size(); i += 10) block[i] = 0x80;  // slots are not picture
    block[static_cast<size_t>(c.block_offset)] = c.value;
    std::vector<uint8_t> rgb(kRgbPictureSize, 0xEE);
    DecodeFramePicture(block.data(), rgb.data());
    std::vector<uint8_t> expected(kRgbPictureSize, 0);
    expected[static_cast<size_t>((c.y * 144 + c.x) * 3 + c.component)] = c.expected;
    EXPECT_EQ(rgb, expected);
  }
}

TEST(TrackReader, ExtractsTheSlotsInRecordOrder) {
  std::vector<uint8_t> record(kFrameRecordSize, 0x11);
  for (int i = 0; i < 1960; ++i) record[static_cast<size_t>(i * 10 + 9)] = static_cast<uint8_t>(i * 7 + i / 256);
  std::vector<uint8_t> sound(kAudioChunkSize);
  ExtractRecordSound(record.data(), sound.data());
  for (int i = 0; i < 1960; ++i) ASSERT_EQ(sound[static_cast<size_t>(i)], static_cast<uint8_t>(i * 7 + i / 256)) << i;
}

}  // namespace
}  // namespace trackloom::cli
