#include "core/frame_encoder.h"

#include <cstring>

#include "core/track_format.h"

#if defined(__x86_64__) && defined(__GNUC__)
#include <tmmintrin.h>
#define TRACKLOOM_ENCODE_SSSE3 1
#endif

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

constexpr uint8_t StandardNibble(int value) { return static_cast<uint8_t>((value + 8) / 17); }

struct StandardTable {
  uint8_t entries[256];
};
constexpr StandardTable MakeStandardTable() {
  StandardTable table{};
  for (int v = 0; v < 256; ++v) table.entries[v] = StandardNibble(v);
  return table;
}
constexpr StandardTable kStandardTable = MakeStandardTable();

// Both lines of one picture row, each component through the given table. Four
// columns c .. c+3 fill three bytes of each line:
//   first line:  R(c) G(c+1) | B(c+1) R(c+2) | G(c+3) B(c+3)
//   second line: G(c) B(c)   | R(c+1) G(c+2) | B(c+2) R(c+3)
// so three such units make the nine data bytes of a group.
void EncodeRowWithTable(const uint8_t* row, const uint8_t* table, uint8_t* first, uint8_t* second) {
  constexpr int kColumnsPerUnit = 4;
  static_assert(kColumnsPerGroup == 3 * kColumnsPerUnit);
  for (int group = 0; group < kGroupsPerLine; ++group) {
    for (int unit = 0; unit < kColumnsPerGroup / kColumnsPerUnit; ++unit) {
      const uint32_t p0 = LoadPixel(row, 0);
      const uint32_t p1 = LoadPixel(row, 1);
      const uint32_t p2 = LoadPixel(row, 2);
      const uint32_t p3 = LoadPixel(row, 3);
      row += kColumnsPerUnit * kBytesPerPixel;
      const uint8_t r0 = table[(p0 >> kRed) & 0xFF], g0 = table[(p0 >> kGreen) & 0xFF],
                    b0 = table[(p0 >> kBlue) & 0xFF];
      const uint8_t r1 = table[(p1 >> kRed) & 0xFF], g1 = table[(p1 >> kGreen) & 0xFF],
                    b1 = table[(p1 >> kBlue) & 0xFF];
      const uint8_t r2 = table[(p2 >> kRed) & 0xFF], g2 = table[(p2 >> kGreen) & 0xFF],
                    b2 = table[(p2 >> kBlue) & 0xFF];
      const uint8_t r3 = table[(p3 >> kRed) & 0xFF], g3 = table[(p3 >> kGreen) & 0xFF],
                    b3 = table[(p3 >> kBlue) & 0xFF];
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
}

#ifdef TRACKLOOM_ENCODE_SSSE3
// The same bytes, four pixels per vector, for the standard table only: there
// (v + 8) / 17 equals ((v + 8) * 241) >> 12 for every byte v, which is the high half
// of (v + 8) * (241 << 4) and fits 16-bit lanes.
constexpr bool MultiplyMatchesDivision() {
  for (int v = 0; v < 256; ++v) {
    if ((((v + 8) * 241) >> 12) != StandardNibble(v)) return false;
  }
  return (255 + 8) * (241 << 4) < (1 << 16) * 16;  // the high half stays below 16
}
static_assert(MultiplyMatchesDivision());

__attribute__((target("ssse3"))) inline __m128i QuantiseStandard(__m128i bytes) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i round = _mm_set1_epi16(8);
  const __m128i scale = _mm_set1_epi16(241 << 4);
  const __m128i low = _mm_mulhi_epu16(_mm_add_epi16(_mm_unpacklo_epi8(bytes, zero), round), scale);
  const __m128i high = _mm_mulhi_epu16(_mm_add_epi16(_mm_unpackhi_epi8(bytes, zero), round), scale);
  return _mm_packus_epi16(low, high);
}

// Byte picks for _mm_shuffle_epi8 (-128 gives a zero byte). Unit u of a group
// (columns 4u .. 4u + 3, one 16-byte load holding B G R X per pixel) supplies bytes
// 3u .. 3u + 2 of each line; "low" picks the nibble for bits 0-3 of those bytes,
// "high" the one for bits 4-7. The components follow the unit table above
// EncodeRowWithTable; pixel i of the unit is at byte 4i, blue +0, green +1, red +2.
struct Picks {
  char bytes[3][16];
};
constexpr Picks MakePicks(char a, char b, char c) {
  Picks picks{};
  for (int unit = 0; unit < 3; ++unit) {
    for (char& p : picks.bytes[unit]) p = -128;
    picks.bytes[unit][3 * unit] = a;
    picks.bytes[unit][3 * unit + 1] = b;
    picks.bytes[unit][3 * unit + 2] = c;
  }
  return picks;
}
constexpr Picks kFirstLow = MakePicks(2, 4, 13);    // R(c)   B(c+1) G(c+3)
constexpr Picks kFirstHigh = MakePicks(5, 10, 12);  // G(c+1) R(c+2) B(c+3)
constexpr Picks kSecondLow = MakePicks(1, 6, 8);    // G(c)   R(c+1) B(c+2)
constexpr Picks kSecondHigh = MakePicks(0, 9, 14);  // B(c)   G(c+2) R(c+3)

__attribute__((target("ssse3"))) inline __m128i Gather(const Picks& picks, __m128i unit0,
                                                       __m128i unit1, __m128i unit2) {
  const auto pick = [&](int unit) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(picks.bytes[unit]));
  };
  return _mm_or_si128(
      _mm_or_si128(_mm_shuffle_epi8(unit0, pick(0)), _mm_shuffle_epi8(unit1, pick(1))),
      _mm_shuffle_epi8(unit2, pick(2)));
}

// Nibbles are below 16, so a 16-bit shift moves each into the top half of its own
// byte; byte 9 becomes the silent audio slot.
__attribute__((target("ssse3"))) inline __m128i PackGroup(__m128i low, __m128i high) {
  const __m128i slot =
      _mm_setr_epi8(0, 0, 0, 0, 0, 0, 0, 0, 0, static_cast<char>(kSilence), 0, 0, 0, 0, 0, 0);
  return _mm_or_si128(_mm_or_si128(low, _mm_slli_epi16(high, 4)), slot);
}

// Writes the ten bytes of a group (the rest of the register is not ours to store).
__attribute__((target("ssse3"))) inline void StoreGroup(uint8_t* out, __m128i group) {
  _mm_storel_epi64(reinterpret_cast<__m128i*>(out), group);
  const uint16_t tail = static_cast<uint16_t>(_mm_extract_epi16(group, 4));
  std::memcpy(out + 8, &tail, sizeof tail);
}

__attribute__((target("ssse3"))) void EncodeStandardSsse3(const SourcePicture& source,
                                                          uint8_t* block) {
  uint8_t* first = block;
  for (int row_index = 0; row_index < kPictureHeight; ++row_index) {
    const uint8_t* row = RowStart(source, row_index);
    uint8_t* second = first + kLineSize;
    for (int group = 0; group < kGroupsPerLine; ++group) {
      const __m128i unit0 =
          QuantiseStandard(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
      const __m128i unit1 =
          QuantiseStandard(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 16)));
      const __m128i unit2 =
          QuantiseStandard(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 32)));
      row += kColumnsPerGroup * kBytesPerPixel;
      StoreGroup(first, PackGroup(Gather(kFirstLow, unit0, unit1, unit2),
                                  Gather(kFirstHigh, unit0, unit1, unit2)));
      StoreGroup(second, PackGroup(Gather(kSecondLow, unit0, unit1, unit2),
                                   Gather(kSecondHigh, unit0, unit1, unit2)));
      first += kGroupSize;
      second += kGroupSize;
    }
    first = second;
  }
}
#endif

}  // namespace

void BuildNibbleTable(InstanceState& state) {
  std::memcpy(state.nibble_table, kStandardTable.entries, sizeof state.nibble_table);
}

void EncodeFrame(const SourcePicture& source, InstanceState& state) {
#ifdef TRACKLOOM_ENCODE_SSSE3
  // The vector form computes the standard table's values instead of looking them
  // up, so it serves only a record that holds that table.
  if (__builtin_cpu_supports("ssse3") &&
      std::memcmp(state.nibble_table, kStandardTable.entries, sizeof kStandardTable.entries) == 0) {
    EncodeStandardSsse3(source, state.frame_block);
    return;
  }
#endif
  // A private copy of the table: the block is written through a byte pointer that
  // could otherwise alias it, which would force every lookup to be redone.
  uint8_t table[256];
  std::memcpy(table, state.nibble_table, sizeof table);
  uint8_t* first = state.frame_block;
  for (int row_index = 0; row_index < kPictureHeight; ++row_index) {
    uint8_t* second = first + kLineSize;
    EncodeRowWithTable(RowStart(source, row_index), table, first, second);
    first = second + kLineSize;
  }
}

}  // namespace trackloom
