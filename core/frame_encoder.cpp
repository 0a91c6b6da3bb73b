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
constexpr int kLineCount = kPictureHeight * 2;          // 160, two per row
constexpr int kBytesPerPixel = 4;

static_assert(kLineSize * kLineCount == kFrameBlockSize);
static_assert(kNibblesPerGroup == 2 * kAudioSlotOffset);

// Shift of a component inside the 32-bit pixel value.
constexpr uint8_t kRed = 16;
constexpr uint8_t kGreen = 8;
constexpr uint8_t kBlue = 0;

// Components of a group, in nibble order, with c0 .. c11 its twelve columns:
//   first line:  R(c0) G(c1) B(c1) R(c2) G(c3) B(c3) ... R(c10) G(c11) B(c11)
//   second line: G(c0) B(c0) R(c1) G(c2) B(c2) R(c3) ... G(c10) B(c10) R(c11)
// The first line of a row takes the red of even columns and green and blue of odd
// ones, the second line the rest, so every component of the row is sent once.

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
  // A private copy of the table: the block is written through a byte pointer that
  // could otherwise alias it, which would force every lookup to be redone.
  uint8_t table[256];
  std::memcpy(table, state.nibble_table, sizeof table);

  // Each row is read once and both of its lines are written together. Four columns
  // c .. c+3 fill three bytes of each line (see the component lists above):
  //   first line:  R(c) G(c+1) | B(c+1) R(c+2) | G(c+3) B(c+3)
  //   second line: G(c) B(c)   | R(c+1) G(c+2) | B(c+2) R(c+3)
  // so three such units make the nine data bytes of a group.
  constexpr int kColumnsPerUnit = 4;
  static_assert(kColumnsPerGroup == 3 * kColumnsPerUnit);
  uint8_t* first = state.frame_block;
  for (int row_index = 0; row_index < kPictureHeight; ++row_index) {
    const uint8_t* row = RowStart(source, row_index);
    uint8_t* second = first + kLineSize;
    for (int group = 0; group < kGroupsPerLine; ++group) {
      for (int unit = 0; unit < kColumnsPerGroup / kColumnsPerUnit; ++unit) {
        const uint32_t p0 = LoadPixel(row, 0);
        const uint32_t p1 = LoadPixel(row, 1);
        const uint32_t p2 = LoadPixel(row, 2);
        const uint32_t p3 = LoadPixel(row, 3);
        row += kColumnsPerUnit * kBytesPerPixel;
        const uint8_t r0 = table[(p0 >> kRed) & 0xFF], g0 = table[(p0 >> kGreen) & 0xFF], b0 = table[(p0 >> kBlue) & 0xFF];
        const uint8_t r1 = table[(p1 >> kRed) & 0xFF], g1 = table[(p1 >> kGreen) & 0xFF], b1 = table[(p1 >> kBlue) & 0xFF];
        const uint8_t r2 = table[(p2 >> kRed) & 0xFF], g2 = table[(p2 >> kGreen) & 0xFF], b2 = table[(p2 >> kBlue) & 0xFF];
        const uint8_t r3 = table[(p3 >> kRed) & 0xFF], g3 = table[(p3 >> kGreen) & 0xFF], b3 = table[(p3 >> kBlue) & 0xFF];
        first[0] = PackNibblesLowFirst(r0, g1);
        first[1] = PackNibblesLowFirst(b1, r2);
        first[2] = PackNibblesLowFirst(g3, b3);
        second[0] = PackNibblesLowFirst(g0, b0);
        second[1] = PackNibblesLowFirst(r1, g2);
        second[2] = PackNibblesLowFirst(b2, r3);
        first += 3;
        second += 3;
      }
      *first++ = kSilence;
      *second++ = kSilence;
    }
    first = second;
  }
}

}  // namespace trackloom
