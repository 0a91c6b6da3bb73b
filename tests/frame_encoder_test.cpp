#include "core/frame_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/instance_state.h"
#include "core/track_format.h"
#include "core/track_writer.h"
#include "core/wave_file.h"
#include "tests/support/temp_dir.h"

namespace trackloom {
namespace {

constexpr int kRowBytes = kPictureWidth * 4;  // 576
constexpr int kLineBytes = 120;
constexpr int kLines = 160;

using Block = std::vector<uint8_t>;

// A picture as the viewer sees it: row 0 at the top.
struct Picture {
  std::vector<uint32_t> pixels = std::vector<uint32_t>(kPictureWidth * kPictureHeight, 0);
  uint32_t& at(int column, int row) { return pixels[static_cast<size_t>(row * kPictureWidth + column)]; }
  uint32_t at(int column, int row) const { return pixels[static_cast<size_t>(row * kPictureWidth + column)]; }
};

// A picture laid out in memory the way the editor hands it over: bottom-up with the
// given pitch (negative: a top-down buffer seen from its last row). Padding bytes
// hold a pattern that must never show up in the output.
struct StoredPicture {
  std::vector<uint8_t> bytes;
  SourcePicture source{};
};

StoredPicture Store(const Picture& picture, ptrdiff_t pitch, int height = kPictureHeight) {
  StoredPicture stored;
  const size_t stride = static_cast<size_t>(std::abs(pitch));
  stored.bytes.assign(stride * static_cast<size_t>(height), 0xA5);
  uint8_t* base = stored.bytes.data() + (pitch < 0 ? stride * static_cast<size_t>(height - 1) : 0);
  for (int stored_row = 0; stored_row < height; ++stored_row) {
    const int row = height - 1 - stored_row;
    if (row >= kPictureHeight) continue;
    uint8_t* out = base + stored_row * pitch;
    std::memcpy(out, &picture.pixels[static_cast<size_t>(row * kPictureWidth)], kRowBytes);
  }
  stored.source = SourcePicture{base, height, pitch};
  return stored;
}

std::unique_ptr<InstanceState> MakeState() {
  auto state = std::make_unique<InstanceState>();  // zero-filled, as the editor gives it
  BuildNibbleTable(*state);
  return state;
}

Block Encode(const SourcePicture& source, InstanceState& state) {
  std::memset(state.frame_block, 0x5A, sizeof state.frame_block);  // stale content
  EncodeFrame(source, state);
  return Block(state.frame_block, state.frame_block + kFrameBlockSize);
}

// The same encoding, written the other way round: a running walk over the row with a
// component selector and a phase counter, restarted for every group.
Block EncodeByWalk(const SourcePicture& source, const uint8_t* table) {
  Block block;
  for (int line = 0; line < kLines; ++line) {
    const bool first_line = line % 2 == 0;
    const uint8_t* row = source.pixels + (source.height - 1 - line / 2) * source.pitch;
    for (int group = 0; group < 12; ++group) {
      int selector = first_line ? 0 : 1;  // 0 red, 1 green, 2 blue
      int phase = first_line ? -1 : 0;
      int column = 12 * group;
      uint8_t nibbles[18];
      for (uint8_t& nibble : nibbles) {
        uint32_t pixel;
        std::memcpy(&pixel, row + 4 * column, 4);
        const int shift = selector == 0 ? 16 : selector == 1 ? 8 : 0;
        nibble = table[(pixel >> shift) & 0xFF];
        selector = (selector + 1) % 3;
        if (phase % 3 != 0) ++column;
        ++phase;
      }
      for (int k = 0; k < 9; ++k) block.push_back(static_cast<uint8_t>(nibbles[2 * k] | nibbles[2 * k + 1] << 4));
      block.push_back(0x80);
    }
  }
  return block;
}

Block BlackBlock() {
  Block block(kFrameBlockSize, 0x00);
  for (size_t i = 9; i < block.size(); i += 10) block[i] = 0x80;
  return block;
}

// Every data byte of every group of the given lines set from a 9-byte pattern.
void FillLines(Block& block, int first_line, int line_step, const std::vector<uint8_t>& group_bytes) {
  for (int line = first_line; line < kLines; line += line_step) {
    for (int group = 0; group < 12; ++group) {
      for (int k = 0; k < 9; ++k) block[static_cast<size_t>(line * kLineBytes + group * 10 + k)] = group_bytes[static_cast<size_t>(k)];
    }
  }
}

// Where two blocks first differ, for readable failures.
std::string FirstDifference(const Block& actual, const Block& expected) {
  if (actual.size() != expected.size()) return "sizes differ";
  for (size_t i = 0; i < actual.size(); ++i) {
    if (actual[i] != expected[i]) {
      char text[96];
      std::snprintf(text, sizeof text, "byte %zu (line %zu, group %zu, byte %zu): %02X, expected %02X", i,
                    i / kLineBytes, i % kLineBytes / 10, i % 10, actual[i], expected[i]);
      return text;
    }
  }
  return "";
}

Picture RandomPicture(uint32_t seed) {
  std::mt19937 random(seed);
  Picture picture;
  for (uint32_t& pixel : picture.pixels) pixel = static_cast<uint32_t>(random());  // top byte too
  return picture;
}

TEST(FrameEncoder, NibblePackingPutsTheEarlierNibbleLow) {
  EXPECT_EQ(PackNibblesLowFirst(0x1, 0xE), 0xE1);
  EXPECT_EQ(PackNibblesLowFirst(0xE, 0x1), 0x1E);
  EXPECT_EQ(PackNibblesLowFirst(0xF, 0x0), 0x0F);
  EXPECT_EQ(PackNibblesLowFirst(0x0, 0xF), 0xF0);
}

TEST(FrameEncoder, NibbleTableRoundsToTheNearestSeventeenth) {
  auto state = MakeState();
  for (int v = 0; v < 256; ++v) {
    const int nibble = state->nibble_table[v];
    // 17 is odd, so the nearest multiple is never a tie.
    EXPECT_LE(std::abs(v - 17 * nibble), 8) << "value " << v << " gave " << nibble;
    EXPECT_LE(nibble, 15) << "value " << v;
  }
  const struct {
    int value;
    int nibble;
  } runs[] = {{0, 0}, {8, 0}, {9, 1}, {25, 1}, {26, 2}, {42, 2}, {43, 3}, {229, 13}, {230, 14}, {246, 14}, {247, 15}, {255, 15}};
  for (const auto& run : runs) EXPECT_EQ(state->nibble_table[run.value], run.nibble) << "value " << run.value;
}

TEST(FrameEncoder, FixedPictures) {
  const struct Case {
    const char* name;
    std::function<void(Picture&)> paint;
    std::function<void(Block&)> expect;  // applied to a black block
  } cases[] = {
      {"black", [](Picture&) {}, [](Block&) {}},
      {"white", [](Picture& p) { std::fill(p.pixels.begin(), p.pixels.end(), 0xFFFFFFu); },
       [](Block& b) { FillLines(b, 0, 1, std::vector<uint8_t>(9, 0xFF)); }},
      {"bits 24-31 ignored", [](Picture& p) { std::fill(p.pixels.begin(), p.pixels.end(), 0xFF000000u); }, [](Block&) {}},
      {"all red",
       [](Picture& p) { std::fill(p.pixels.begin(), p.pixels.end(), 0xFF0000u); },
       [](Block& b) {
         FillLines(b, 0, 2, {0x0F, 0xF0, 0x00, 0x0F, 0xF0, 0x00, 0x0F, 0xF0, 0x00});
         FillLines(b, 1, 2, {0x00, 0x0F, 0xF0, 0x00, 0x0F, 0xF0, 0x00, 0x0F, 0xF0});
       }},
      {"red top-left pixel", [](Picture& p) { p.at(0, 0) = 0xFF0000; }, [](Block& b) { b[0] = 0x0F; }},
      {"green top-left pixel", [](Picture& p) { p.at(0, 0) = 0x00FF00; }, [](Block& b) { b[120] = 0x0F; }},
      {"blue pixel at column 1 of row 0", [](Picture& p) { p.at(1, 0) = 0x0000FF; }, [](Block& b) { b[1] = 0x0F; }},
      {"white bottom row fills the last 240 bytes",
       [](Picture& p) {
         for (int x = 0; x < kPictureWidth; ++x) p.at(x, 79) = 0xFFFFFF;
       },
       [](Block& b) { FillLines(b, 158, 1, std::vector<uint8_t>(9, 0xFF)); }},
      // Red 0x12 -> 1, green 0x34 -> 3, blue 0x56 -> 5; column 143 is the last of group 11.
      {"bottom-right pixel", [](Picture& p) { p.at(143, 79) = 0x123456; },
       [](Block& b) {
         b[158 * 120 + 110 + 8] = 0x53;  // green then blue of an odd column
         b[159 * 120 + 110 + 8] = 0x10;  // red of an odd column, second half of the byte
       }},
      // Column 12 starts group 1: its red goes first on line 0, its green and blue
      // first on line 1.
      {"first column of group 1, row 1", [](Picture& p) { p.at(12, 1) = 0x8844CC; },
       [](Block& b) {
         b[2 * 120 + 10] = 0x08;      // red 0x88 -> 8
         b[3 * 120 + 10] = 0xC4;      // green 0x44 -> 4, blue 0xCC -> 12
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Picture picture;
    c.paint(picture);
    Block expected = BlackBlock();
    c.expect(expected);
    auto state = MakeState();
    const Block actual = Encode(Store(picture, kRowBytes).source, *state);
    EXPECT_EQ(FirstDifference(actual, expected), "");
  }
}

TEST(FrameEncoder, QuantisationBoundaries) {
  // A uniform picture gives, per group, first lines R G B R G B ... and second lines
  // G B R G B R ..., packed low nibble first.
  const struct {
    uint8_t red, green, blue;
    uint8_t red_nibble, green_nibble, blue_nibble;
  } cases[] = {
      {8, 9, 246, 0, 1, 14},
      {247, 25, 26, 15, 1, 2},
      {0, 255, 42, 0, 15, 2},
      {43, 229, 230, 3, 13, 14},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << int{c.red} << "/" << int{c.green} << "/" << int{c.blue});
    Picture picture;
    std::fill(picture.pixels.begin(), picture.pixels.end(),
              static_cast<uint32_t>(c.red) << 16 | static_cast<uint32_t>(c.green) << 8 | c.blue);
    const uint8_t r = c.red_nibble, g = c.green_nibble, b = c.blue_nibble;
    const uint8_t rg = PackNibblesLowFirst(r, g), br = PackNibblesLowFirst(b, r), gb = PackNibblesLowFirst(g, b);
    Block expected = BlackBlock();
    FillLines(expected, 0, 2, {rg, br, gb, rg, br, gb, rg, br, gb});
    FillLines(expected, 1, 2, {gb, rg, br, gb, rg, br, gb, rg, br});
    auto state = MakeState();
    EXPECT_EQ(FirstDifference(Encode(Store(picture, kRowBytes).source, *state), expected), "");
  }
}

TEST(FrameEncoder, MatchesTheRunningWalkForRandomPicturesAndPitches) {
  // Bottom-up tight and padded, top-down (negative) tight and padded, and pitches
  // that leave rows unaligned to 4 bytes.
  const ptrdiff_t pitches[] = {kRowBytes, -kRowBytes, kRowBytes + 64, -(kRowBytes + 64), 4 * kRowBytes, kRowBytes + 3,
                               -(kRowBytes + 5)};
  // The encoder must follow whatever table the record holds, not only the one
  // BuildNibbleTable makes: a record whose table was never built, one that differs
  // in a single entry, and an arbitrary one.
  const struct {
    const char* name;
    std::function<uint8_t(int, uint8_t)> entry;  // value, standard entry
  } tables[] = {
      {"built", [](int, uint8_t standard) { return standard; }},
      {"never built", [](int, uint8_t) { return uint8_t{0}; }},
      {"entry 128 changed", [](int v, uint8_t standard) { return v == 128 ? uint8_t{3} : standard; }},
      {"arbitrary", [](int v, uint8_t) { return static_cast<uint8_t>((v * 7 + 3) & 15); }},
  };
  for (const auto& table : tables) {
    auto state = MakeState();
    for (int v = 0; v < 256; ++v) state->nibble_table[v] = table.entry(v, state->nibble_table[v]);
    for (uint32_t seed = 1; seed <= 8; ++seed) {
      const Picture picture = RandomPicture(seed);
      const Block tight = Encode(Store(picture, kRowBytes).source, *state);
      for (const ptrdiff_t pitch : pitches) {
        SCOPED_TRACE(::testing::Message() << table.name << " table, seed " << seed << ", pitch " << pitch);
        StoredPicture stored = Store(picture, pitch);
        // Unaligned pitches also start at an unaligned address.
        if (pitch % 4 != 0) {
          std::vector<uint8_t> shifted(stored.bytes.size() + 1);
          std::memcpy(shifted.data() + 1, stored.bytes.data(), stored.bytes.size());
          stored.source.pixels = shifted.data() + 1 + (stored.source.pixels - stored.bytes.data());
          stored.bytes.swap(shifted);
        }
        const Block actual = Encode(stored.source, *state);
        EXPECT_EQ(FirstDifference(actual, EncodeByWalk(stored.source, state->nibble_table)), "");
        EXPECT_EQ(FirstDifference(actual, tight), "") << "the layout in memory changed the picture";
      }
    }
  }
}

TEST(FrameEncoder, PicturesWithoutEightyRows) {
  // Row r is read from stored row height - 1 - r: a taller picture gives its top 80
  // rows; rows a shorter one lacks are encoded as black.
  const Picture full = RandomPicture(99);
  const struct {
    int height;
    bool has_pixels;
    int rows_present;
  } cases[] = {{80, true, 80}, {83, true, 80}, {79, true, 79}, {1, true, 1}, {0, true, 0}, {-3, true, 0}, {80, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << "height " << c.height << (c.has_pixels ? "" : ", no pixels"));
    Picture visible;
    for (int r = 0; r < c.rows_present; ++r) {
      for (int x = 0; x < kPictureWidth; ++x) visible.at(x, r) = full.at(x, r);
    }
    StoredPicture stored;
    if (c.height > 0 && c.has_pixels) {
      stored = Store(full, kRowBytes, c.height);
    } else {
      stored.source = SourcePicture{nullptr, c.height, kRowBytes};
      if (c.has_pixels) {
        stored.bytes.assign(kRowBytes, 0xA5);
        stored.source.pixels = stored.bytes.data();
      }
    }
    auto state = MakeState();
    const Block expected = Encode(Store(visible, kRowBytes).source, *state);
    EXPECT_EQ(FirstDifference(Encode(stored.source, *state), expected), "");
  }
}

TEST(FrameEncoder, TrackReadBackHoldsTheEncodedPictures) {
  constexpr int kRecords = 3;
  // Sound for two and a half records: the third record's slots fall back to silence.
  std::vector<uint8_t> sound(kAudioChunkSize * 5 / 2);
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<uint8_t>(i * 7 + 3);

  for (const bool with_sound : {false, true}) {
    SCOPED_TRACE(with_sound ? "with sound" : "without sound");
    testing::TempDir dir;
    auto state = MakeState();
    std::snprintf(state->output_directory, kPathCapacity, "%s", dir.path().c_str());
    if (with_sound) {
      const std::string sound_path = dir.File("sound.wav");
      testing::WriteFileBytes(sound_path, testing::MakeWav(17640, 8, 2, sound));
      state->audio_source = WaveFile::OpenForRead(sound_path.c_str());
      ASSERT_NE(state->audio_source, nullptr);
      ASSERT_TRUE(state->audio_source->CheckHeader(17640, 8, 2));
    }
    ASSERT_TRUE(OpenNextTrack(*state));

    std::vector<Block> expected_blocks;
    for (int i = 0; i < kRecords; ++i) {
      const Picture picture = RandomPicture(1000 + static_cast<uint32_t>(i));
      const StoredPicture stored = Store(picture, -kRowBytes);
      EncodeFrame(stored.source, *state);
      expected_blocks.push_back(EncodeByWalk(stored.source, state->nibble_table));
      ASSERT_TRUE(WriteFrameRecord(*state));
    }
    FinishTrack(*state);
    if (state->audio_source != nullptr) CloseAndFree(state->audio_source);

    const std::vector<uint8_t> file = testing::ReadFileBytes(dir.File("VDN Track 01.wav"));
    ASSERT_EQ(file.size(), static_cast<size_t>(kFirstRecordOffset + kRecords * kFrameRecordSize));
    EXPECT_EQ(testing::ReadLe32(file, 4), file.size() - 8);    // RIFF size
    EXPECT_EQ(testing::ReadLe32(file, 40), file.size() - 44);  // data size
    EXPECT_EQ(std::vector<uint8_t>(file.begin() + kWaveHeaderSize, file.begin() + kFirstRecordOffset),
              std::vector<uint8_t>(kLeadInSize, 0x00));

    for (int i = 0; i < kRecords; ++i) {
      SCOPED_TRACE(::testing::Message() << "record " << i);
      Block expected(kRecordHeaderTemplate, kRecordHeaderTemplate + kRecordHeaderSize);
      expected.insert(expected.end(), expected_blocks[static_cast<size_t>(i)].begin(),
                      expected_blocks[static_cast<size_t>(i)].end());
      const size_t chunk_start = static_cast<size_t>(i) * kAudioChunkSize;
      if (with_sound && chunk_start + kAudioChunkSize <= sound.size()) {
        for (size_t slot = 0; slot < kAudioChunkSize; ++slot) expected[slot * 10 + 9] = sound[chunk_start + slot];
      }
      const auto record = file.begin() + kFirstRecordOffset + i * kFrameRecordSize;
      const Block actual(record, record + kFrameRecordSize);
      // Report offsets inside the frame block, where the encoder's bytes are.
      EXPECT_EQ(FirstDifference(Block(actual.begin(), actual.begin() + kRecordHeaderSize),
                                Block(expected.begin(), expected.begin() + kRecordHeaderSize)),
                "")
          << "in the record header";
      EXPECT_EQ(FirstDifference(Block(actual.begin() + kRecordHeaderSize, actual.end()),
                                Block(expected.begin() + kRecordHeaderSize, expected.end())),
                "")
          << "in the frame block";
    }
  }
}

}  // namespace
}  // namespace trackloom
