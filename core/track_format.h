// What a track file is: every size, rate and constant byte of the format, and
// nothing else. The writer in core/, the filter module, the command and the
// independent track reader all take their numbers from here.
//
// The track file: a WAV file declared as CD audio (44100 Hz, 16-bit, stereo PCM)
// whose sample bytes are a lead-in followed by frame records.
//
//   offset 0      44        2092                 2092 + 19600 x N
//   +-------------+---------+--------------------+-- ... --+
//   | WAV header  | lead-in | record 0           | ...     |
//   | (44 bytes)  | 2048x00 | 400 header + 19200 |         |
//   +-------------+---------+--------------------+-- ... --+
//
// A record is 1960 groups of 10 bytes: bytes 0-8 carry header or picture data and
// byte 9 is an audio slot. Groups 0-39 are the record header (sync groups, the level
// tables, all-ones groups: the writer's is a constant template), groups 40-1959 the
// frame block. The 1960 slots carry 1/18 s of 8-bit stereo sound
// at 17640 Hz in record order; 0x80 is silence.
#pragma once

#include <cstdint>

namespace trackloom {

// The canonical WAV header: RIFF chunk descriptor (12), "fmt " chunk (8 + 16),
// "data" chunk header (8).
inline constexpr int kWaveHeaderSize = 44;

// What the header declares: CD audio, which the player's disc reader expects.
inline constexpr int32_t kTrackSampleRate = 44100;
inline constexpr int32_t kTrackBitsPerSample = 16;
inline constexpr int32_t kTrackChannels = 2;
// Bytes of one sample of every channel, and of a second of them: 4 and 176400.
inline constexpr int32_t kTrackBlockAlign = kTrackChannels * kTrackBitsPerSample / 8;
inline constexpr int32_t kTrackByteRate = kTrackSampleRate * kTrackBlockAlign;

// The picture every record carries, and how many records make a second of video.
inline constexpr int kPictureWidth = 144;
inline constexpr int kPictureHeight = 80;
inline constexpr int kFramesPerSecond = 18;

// The sound a record's audio slots carry: 8-bit unsigned stereo.
inline constexpr int32_t kSoundSampleRate = 17640;
inline constexpr int32_t kSoundBitsPerSample = 8;
inline constexpr int32_t kSoundChannels = 2;
inline constexpr uint8_t kSilence = 0x80;

inline constexpr int kGroupSize = 10;       // 9 data bytes and one audio slot
inline constexpr int kAudioSlotOffset = 9;  // the slot's place inside its group
inline constexpr int kLeadInSize = 2048;
// The lead-in retail discs' tracks have been seen with (this program writes kLeadInSize).
inline constexpr int kRetailLeadInSize = 392;
inline constexpr int kRecordHeaderSize = 400;
inline constexpr int kFrameBlockSize = 19200;  // 160 lines x 12 groups x 10 bytes
inline constexpr int kFrameRecordSize = kRecordHeaderSize + kFrameBlockSize;  // 19600
// One audio slot per group: 980 stereo sample pairs, 1/18 s at 17640 Hz.
inline constexpr int kAudioChunkSize = kFrameRecordSize / kGroupSize;     // 1960
inline constexpr int kFirstRecordOffset = kWaveHeaderSize + kLeadInSize;  // 2092

// Disc time of a track whose data chunk (lead-in and records) holds data_bytes: the
// disc plays it as CD audio, 176400 bytes a second, so a record takes 1/9 s.
constexpr double TrackDiscSeconds(uint64_t data_bytes) {
  return static_cast<double>(data_bytes) / kTrackByteRate;
}

static_assert(kAudioChunkSize * kFramesPerSecond ==
              kSoundSampleRate * kSoundChannels * kSoundBitsPerSample / 8);
static_assert(kFrameBlockSize == kPictureHeight * 2 * (kPictureWidth / 12) * kGroupSize);

// "VDN Track 01.wav" ... : the name the player looks for, with a two-digit number.
inline constexpr char kTrackFileNameFormat[] = "VDN Track %02d.wav";

// Both size fields are 32-bit, so a track may not grow past this length.
inline constexpr uint64_t kMaxTrackLength = 0xFFFFFFFFull;

// The 2048 zero bytes between the WAV header and the first record.
inline constexpr uint8_t kLeadIn[kLeadInSize] = {};

namespace detail {
constexpr uint8_t kHeaderGroups[40][9] = {
    // groups 0-23: the same sync pattern
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    {0x81, 0xE3, 0xE3, 0xC7, 0xC7, 0x81, 0x81, 0xE3, 0xC7},
    // groups 24-35
    {0x00, 0x00, 0x02, 0x01, 0x04, 0x02, 0x06, 0x03, 0xFF},
    {0x08, 0x04, 0x0A, 0x05, 0x0C, 0x06, 0x0E, 0x07, 0xFF},
    {0x11, 0x08, 0x13, 0x09, 0x15, 0x0A, 0x17, 0x0B, 0xFF},
    {0x19, 0x0C, 0x1B, 0x0D, 0x1D, 0x0E, 0x1F, 0x0F, 0xFF},
    {0x00, 0x28, 0x02, 0x29, 0x04, 0x2A, 0x06, 0x2B, 0xFF},
    {0x08, 0x2C, 0x0A, 0x2D, 0x0C, 0x2E, 0x0E, 0x2F, 0xFF},
    {0x11, 0x30, 0x13, 0x31, 0x15, 0x32, 0x17, 0x33, 0xFF},
    {0x19, 0x34, 0x1B, 0x35, 0x1D, 0x36, 0x1F, 0x37, 0xFF},
    {0x00, 0x38, 0x02, 0x39, 0x04, 0x3A, 0x06, 0x3B, 0xFF},
    {0x08, 0x3C, 0x0A, 0x3D, 0x0C, 0x3E, 0x0E, 0x3F, 0xFF},
    {0x11, 0x40, 0x13, 0x41, 0x15, 0x42, 0x17, 0x43, 0xFF},
    {0x19, 0x44, 0x1B, 0x45, 0x1D, 0x46, 0x1F, 0x47, 0xFF},
    // groups 36-39: all ones
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
};

struct HeaderTemplate {
  uint8_t bytes[kRecordHeaderSize];
};

constexpr HeaderTemplate MakeRecordHeaderTemplate() {
  HeaderTemplate t{};
  for (int g = 0; g < 40; ++g) {
    for (int i = 0; i < 9; ++i) t.bytes[g * kGroupSize + i] = kHeaderGroups[g][i];
    t.bytes[g * kGroupSize + kAudioSlotOffset] = kSilence;
  }
  return t;
}
}  // namespace detail

// The 400-byte header every record begins with; its audio slots hold silence until
// the writer fills them with the record's own sound.
inline constexpr detail::HeaderTemplate kRecordHeaderTemplateBytes =
    detail::MakeRecordHeaderTemplate();
inline constexpr const uint8_t (&kRecordHeaderTemplate)[kRecordHeaderSize] =
    kRecordHeaderTemplateBytes.bytes;

// The level tables in the record header. Groups 24-35 hold 48 (level, address) byte
// pairs, four a group in bytes 0-7, with 0xFF in byte 8: a table of 16 entries for
// each colour component, at addresses 0x00-0x0F (red), 0x28-0x37 (green) and
// 0x38-0x47 (blue), mapping a stored 4-bit value n to the panel level T[n] of 32
// (0-31). The template writes the same near-linear ramp into all three; retail tracks
// carry tables of their own, the same in every record of a track.
namespace levels {

inline constexpr int kFirstGroup = 24;
inline constexpr int kGroupCount = 12;
inline constexpr int kPairsPerGroup = 4;
inline constexpr int kComponents = 3;  // red, green, blue
inline constexpr int kEntries = 16;    // one per stored 4-bit value
inline constexpr int kPanelLevels = 32;
inline constexpr uint8_t kGroupEnd = 0xFF;  // byte 8 of every table group
inline constexpr uint8_t kTableAddress[kComponents] = {0x00, 0x28, 0x38};
inline constexpr uint8_t kStandardRamp[kEntries] = {0x00, 0x02, 0x04, 0x06, 0x08, 0x0A, 0x0C, 0x0E,
                                                    0x11, 0x13, 0x15, 0x17, 0x19, 0x1B, 0x1D, 0x1F};
static_assert(kGroupCount * kPairsPerGroup == kComponents * kEntries);

struct Tables {
  uint8_t level[kComponents][kEntries];  // [component][stored value]: panel level 0-31
};

constexpr Tables StandardTables() {
  Tables t{};
  for (int c = 0; c < kComponents; ++c) {
    for (int n = 0; n < kEntries; ++n) t.level[c][n] = kStandardRamp[n];
  }
  return t;
}

constexpr bool SameTables(const Tables& a, const Tables& b) {
  for (int c = 0; c < kComponents; ++c) {
    for (int n = 0; n < kEntries; ++n) {
      if (a.level[c][n] != b.level[c][n]) return false;
    }
  }
  return true;
}

// Where the level byte of component c's entry n lies in the record header; its
// address byte follows it.
constexpr int PairOffset(int c, int n) {
  const int pair = c * kEntries + n;
  return (kFirstGroup + pair / kPairsPerGroup) * kGroupSize + (pair % kPairsPerGroup) * 2;
}

// Writes the tables into the data bytes of a record header's groups 24-35 (their
// audio slots are left as they are).
constexpr void PutTables(uint8_t* header, const Tables& t) {
  for (int c = 0; c < kComponents; ++c) {
    for (int n = 0; n < kEntries; ++n) {
      header[PairOffset(c, n)] = t.level[c][n];
      header[PairOffset(c, n) + 1] = static_cast<uint8_t>(kTableAddress[c] + n);
    }
  }
  for (int g = kFirstGroup; g < kFirstGroup + kGroupCount; ++g) {
    header[g * kGroupSize + kPairsPerGroup * 2] = kGroupEnd;
  }
}

// The 8-bit value a panel level shows as: round(level x 255 / 31).
constexpr uint8_t ShownValue(int level) { return static_cast<uint8_t>((level * 255 + 15) / 31); }

}  // namespace levels

namespace detail {
// The template's groups 24-35 are the standard tables.
constexpr bool TemplateHoldsStandardTables() {
  HeaderTemplate t = kRecordHeaderTemplateBytes;
  levels::PutTables(t.bytes, levels::StandardTables());
  for (int i = 0; i < kRecordHeaderSize; ++i) {
    if (t.bytes[i] != kRecordHeaderTemplateBytes.bytes[i]) return false;
  }
  return true;
}
static_assert(TemplateHoldsStandardTables());
}  // namespace detail

// The 44-byte WAV header: one builder and one checker, used by every file that
// writes or accepts one. Fields, by offset:
//   0 "RIFF"   4 RIFF size (length - 8)   8 "WAVE"
//  12 "fmt "  16 format length 16        20 format 1 (PCM)   22 channels
//  24 sample rate   28 byte rate   32 block alignment   34 bits per sample
//  36 "data"  40 data size (length - 44)
namespace wav {

// Where each field is, by the table above.
inline constexpr int kRiffTagOffset = 0;
inline constexpr int kRiffSizeOffset = 4;
inline constexpr int kWaveTagOffset = 8;
inline constexpr int kFormatTagOffset = 12;
inline constexpr int kFormatLengthOffset = 16;
// The format chunk's body begins at 20 here; its fields lie at the same places in
// the body of any "fmt " chunk, wherever a longer file puts it.
inline constexpr int kFormatBodyOffset = 20;
inline constexpr int kFormatCodeField = 0;
inline constexpr int kChannelsField = 2;
inline constexpr int kSampleRateField = 4;
inline constexpr int kByteRateField = 8;
inline constexpr int kBlockAlignField = 12;
inline constexpr int kBitsPerSampleField = 14;
inline constexpr int kFormatCodeOffset = kFormatBodyOffset + kFormatCodeField;        // 20
inline constexpr int kChannelsOffset = kFormatBodyOffset + kChannelsField;            // 22
inline constexpr int kSampleRateOffset = kFormatBodyOffset + kSampleRateField;        // 24
inline constexpr int kByteRateOffset = kFormatBodyOffset + kByteRateField;            // 28
inline constexpr int kBlockAlignOffset = kFormatBodyOffset + kBlockAlignField;        // 32
inline constexpr int kBitsPerSampleOffset = kFormatBodyOffset + kBitsPerSampleField;  // 34
inline constexpr int kDataTagOffset = 36;
inline constexpr int kDataSizeOffset = 40;
// A chunk starts with its tag and its 32-bit length.
inline constexpr int kChunkHeaderSize = 8;
// The RIFF size counts the file from offset 8, everything after its own field: the
// header's last 36 bytes and the data. The data size counts from offset 44.
inline constexpr uint32_t kRiffSizeFrom = 8;
inline constexpr uint32_t kRiffSizeOverData = kWaveHeaderSize - kRiffSizeFrom;
inline constexpr uint32_t kFormatChunkLength = 16;  // PCM's format chunk, no extension
inline constexpr uint16_t kFormatPcm = 1;
// The largest number a size field holds (32 bits), which is also why a track stops
// at kMaxTrackLength.
inline constexpr uint64_t kLargestSize = kMaxTrackLength;
static_assert(kFormatBodyOffset == kFormatTagOffset + kChunkHeaderSize);
static_assert(kDataTagOffset == kFormatBodyOffset + static_cast<int>(kFormatChunkLength));
static_assert(kDataSizeOffset + 4 == kWaveHeaderSize);

struct Format {
  uint32_t sample_rate;
  uint16_t bits_per_sample;
  uint16_t channels;
};

// The two formats the product writes: the track file, and the command's 8-bit sound.
inline constexpr Format kTrackFormat = {kTrackSampleRate, kTrackBitsPerSample, kTrackChannels};
inline constexpr Format kSoundFormat = {kSoundSampleRate, kSoundBitsPerSample, kSoundChannels};

constexpr void PutLe16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}

constexpr void PutLe32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (8 * i));
}

constexpr uint16_t GetLe16(const uint8_t* at) { return static_cast<uint16_t>(at[0] | at[1] << 8); }

constexpr uint32_t GetLe32(const uint8_t* at) {
  return uint32_t{at[0]} | uint32_t{at[1]} << 8 | uint32_t{at[2]} << 16 | uint32_t{at[3]} << 24;
}

constexpr void PutTag(uint8_t* at, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(tag[i]);
}

constexpr bool HasTag(const uint8_t* at, const char (&tag)[5]) {
  for (int i = 0; i < 4; ++i)
    if (at[i] != static_cast<uint8_t>(tag[i])) return false;
  return true;
}

// A complete header for `data_bytes` bytes of samples; sizes, byte rate and block
// alignment are derived from the format.
constexpr void BuildHeader(uint8_t* h, Format f, uint32_t data_bytes) {
  const uint32_t block_align = uint32_t{f.channels} * f.bits_per_sample / 8;
  PutTag(h + kRiffTagOffset, "RIFF");
  PutLe32(h + kRiffSizeOffset, data_bytes + kRiffSizeOverData);
  PutTag(h + kWaveTagOffset, "WAVE");
  PutTag(h + kFormatTagOffset, "fmt ");
  PutLe32(h + kFormatLengthOffset, kFormatChunkLength);
  PutLe16(h + kFormatCodeOffset, kFormatPcm);
  PutLe16(h + kChannelsOffset, f.channels);
  PutLe32(h + kSampleRateOffset, f.sample_rate);
  PutLe32(h + kByteRateOffset, f.sample_rate * block_align);
  PutLe16(h + kBlockAlignOffset, block_align);
  PutLe16(h + kBitsPerSampleOffset, f.bits_per_sample);
  PutTag(h + kDataTagOffset, "data");
  PutLe32(h + kDataSizeOffset, data_bytes);
}

// A header whose length is not known yet: both size fields 0 until the writer
// patches them, which is also how a reader tells a file that was never finished.
constexpr void BuildUnfinishedHeader(uint8_t* h, Format f) {
  BuildHeader(h, f, 0);
  PutLe32(h + kRiffSizeOffset, 0);
}

// What the filter accepts as a WAV header: the samples start at offset 44 (a longer
// format chunk or any chunk before "data" is refused), PCM of exactly this format.
// Sizes, byte rate and alignment are not examined.
constexpr bool CheckHeader(const uint8_t* h, Format f) {
  return HasTag(h + kRiffTagOffset, "RIFF") && HasTag(h + kWaveTagOffset, "WAVE") &&
         HasTag(h + kFormatTagOffset, "fmt ") &&
         GetLe32(h + kFormatLengthOffset) == kFormatChunkLength &&
         GetLe16(h + kFormatCodeOffset) == kFormatPcm &&
         GetLe16(h + kChannelsOffset) == f.channels &&
         GetLe32(h + kSampleRateOffset) == f.sample_rate &&
         GetLe16(h + kBitsPerSampleOffset) == f.bits_per_sample &&
         HasTag(h + kDataTagOffset, "data");
}

}  // namespace wav

}  // namespace trackloom
