#include "core/frame_encoder.h"

#include <cstring>

#include "core/track_format.h"

// Frame block layout: 160 encoded lines of 120 bytes, two lines per picture row.
//
//   line L (row L / 2)   group 0                 group 1          ...  group 11
//   +------------------+-----------------------+----------------+-----+----------+
//   | 120 x L          | 9 data bytes | slot   | 9 data | slot  | ... | 9 | slot |
//   +------------------+-----------------------+----------------+-----+----------+
//
// Group g of a line carries 18 nibbles from columns 12g .. 12g + 11 of its row, two
// to a byte, the earlier nibble in the low half.

namespace trackloom {

namespace {

constexpr int kGroupsPerLine = 12;
constexpr int kColumnsPerGroup = kPictureWidth / kGroupsPerLine;  // 12
constexpr int kNibblesPerGroup = 18;
constexpr int kLineSize = kGroupsPerLine * kGroupSize;  // 120
constexpr int kLineCount = kPictureHeight * 2;          // 160
constexpr int kBytesPerPixel = 4;

static_assert(kLineSize * kLineCount == kFrameBlockSize);
static_assert(kNibblesPerGroup == 2 * kAudioSlotOffset);

// Shift of a component inside the 32-bit pixel value.
constexpr uint8_t kRed = 16;
constexpr uint8_t kGreen = 8;
constexpr uint8_t kBlue = 0;

struct ComponentSource {
  uint8_t column;  // within the group
  uint8_t shift;
};

// The component each nibble of a group carries, in nibble order. The first line of
// a row takes the red of even columns and green and blue of odd ones; the second
// line takes the rest, so every component of the row is sent exactly once.
constexpr ComponentSource kFirstLineComponents[kNibblesPerGroup] = {
    {0, kRed},  {1, kGreen}, {1, kBlue},  {2, kRed},   {3, kGreen}, {3, kBlue},
    {4, kRed},  {5, kGreen}, {5, kBlue},  {6, kRed},   {7, kGreen}, {7, kBlue},
    {8, kRed},  {9, kGreen}, {9, kBlue},  {10, kRed},  {11, kGreen}, {11, kBlue},
};
constexpr ComponentSource kSecondLineComponents[kNibblesPerGroup] = {
    {0, kGreen}, {0, kBlue},  {1, kRed},    {2, kGreen}, {2, kBlue},  {3, kRed},
    {4, kGreen}, {4, kBlue},  {5, kRed},    {6, kGreen}, {6, kBlue},  {7, kRed},
    {8, kGreen}, {8, kBlue},  {9, kRed},    {10, kGreen}, {10, kBlue}, {11, kRed},
};

// Rows a short picture does not have are encoded as black rather than read from
// memory before its first stored row.
constexpr uint8_t kBlackRow[kPictureWidth * kBytesPerPixel] = {};

const uint8_t* RowStart(const SourcePicture& source, int row) {
  const int stored_row = source.height - 1 - row;
  if (source.pixels == nullptr || stored_row < 0) return kBlackRow;
  return source.pixels + static_cast<ptrdiff_t>(stored_row) * source.pitch;
}

uint32_t LoadPixel(const uint8_t* row, int column) {
  uint32_t pixel;
  std::memcpy(&pixel, row + kBytesPerPixel * column, sizeof pixel);
  return pixel;
}

}  // namespace

void BuildNibbleTable(InstanceState& state) {
  for (int v = 0; v < 256; ++v) state.nibble_table[v] = static_cast<uint8_t>((v + 8) / 17);
}

void EncodeFrame(const SourcePicture& source, InstanceState& state) {
  const uint8_t* table = state.nibble_table;
  uint8_t* out = state.frame_block;
  for (int line = 0; line < kLineCount; ++line) {
    const uint8_t* row = RowStart(source, line / 2);
    const ComponentSource* components = line % 2 == 0 ? kFirstLineComponents : kSecondLineComponents;
    for (int group = 0; group < kGroupsPerLine; ++group) {
      const int first_column = group * kColumnsPerGroup;
      uint8_t nibbles[kNibblesPerGroup];
      for (int n = 0; n < kNibblesPerGroup; ++n) {
        const uint32_t pixel = LoadPixel(row, first_column + components[n].column);
        nibbles[n] = table[(pixel >> components[n].shift) & 0xFF];
      }
      for (int k = 0; k < kAudioSlotOffset; ++k) {
        out[k] = PackNibblesLowFirst(nibbles[2 * k], nibbles[2 * k + 1]);
      }
      out[kAudioSlotOffset] = kSilence;
      out += kGroupSize;
    }
  }
}

}  // namespace trackloom
