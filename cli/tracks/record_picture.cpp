// A record taken apart: its picture, shown at the levels of its header's tables, and
// its sound. The frame encoder's layout undone; nothing shared with it but the
// format's numbers.
#include <cstdint>

#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr int kGroupsPerLine = 12;
constexpr int kLineSize = kGroupsPerLine * kGroupSize;  // 120
static_assert(kLineSize * kPictureHeight * 2 == kFrameBlockSize);

// Which component a nibble carries and the column it belongs to, relative to the
// group's first column, for the 18 nibbles of a group (the encoder's order).
// First lines of a row send the red of even columns and green and blue of odd ones;
// second lines the green and blue of even columns and the red of odd ones.
enum Component : uint8_t { kRed = 0, kGreen = 1, kBlue = 2 };
struct NibblePlace {
  Component component;
  uint8_t column;
};

constexpr NibblePlace Place(bool second_line, int k) {
  const int pair = k / 3;  // every three nibbles cover two columns
  const int step = k % 3;
  if (!second_line) {
    if (step == 0) return {kRed, static_cast<uint8_t>(2 * pair)};
    return {step == 1 ? kGreen : kBlue, static_cast<uint8_t>(2 * pair + 1)};
  }
  if (step == 2) return {kRed, static_cast<uint8_t>(2 * pair + 1)};
  return {step == 0 ? kGreen : kBlue, static_cast<uint8_t>(2 * pair)};
}

struct PlaceTable {
  NibblePlace at[2][18];
};
constexpr PlaceTable MakePlaceTable() {
  PlaceTable t{};
  for (int line = 0; line < 2; ++line) {
    for (int k = 0; k < 18; ++k) t.at[line][k] = Place(line == 1, k);
  }
  return t;
}
constexpr PlaceTable kPlaces = MakePlaceTable();

static_assert(kPlaces.at[0][0].component == kRed && kPlaces.at[0][0].column == 0);
static_assert(kPlaces.at[0][17].component == kBlue && kPlaces.at[0][17].column == 11);
static_assert(kPlaces.at[1][0].component == kGreen && kPlaces.at[1][0].column == 0);
static_assert(kPlaces.at[1][17].component == kRed && kPlaces.at[1][17].column == 11);

// Nibble k of a group: bytes carry the earlier nibble in their low half.
uint8_t NibbleLowFirst(const uint8_t* group, int k) {
  const uint8_t byte = group[k / 2];
  return static_cast<uint8_t>((k % 2 == 0) ? (byte & 0x0F) : (byte >> 4));
}

}  // namespace

void DecodeFramePicture(const uint8_t* frame_block, uint8_t* rgb, const levels::Tables& tables) {
  // Every stored value of every component as the panel shows it.
  uint8_t shown[levels::kComponents][levels::kEntries];
  for (int c = 0; c < levels::kComponents; ++c) {
    for (int n = 0; n < levels::kEntries; ++n) {
      shown[c][n] = levels::ShownValue(tables.level[c][n]);
    }
  }
  for (int line = 0; line < kPictureHeight * 2; ++line) {
    const int row = line / 2;
    const int parity = line % 2;
    uint8_t* out_row = rgb + row * kPictureWidth * 3;
    for (int g = 0; g < kGroupsPerLine; ++g) {
      const uint8_t* group = frame_block + line * kLineSize + g * kGroupSize;
      for (int k = 0; k < 18; ++k) {
        const NibblePlace place = kPlaces.at[parity][k];
        const int column = g * 12 + place.column;
        out_row[column * 3 + place.component] = shown[place.component][NibbleLowFirst(group, k)];
      }
    }
  }
}

void DecodeRecordPicture(const uint8_t* record, uint8_t* rgb) {
  levels::Tables tables = levels::StandardTables();
  ReadLevelTables(record, &tables);
  DecodeFramePicture(record + kRecordHeaderSize, rgb, tables);
}

void ExtractRecordSound(const uint8_t* record, uint8_t* sound) {
  for (int i = 0; i < kAudioChunkSize; ++i) sound[i] = record[i * kGroupSize + kAudioSlotOffset];
}

}  // namespace trackloom::cli
