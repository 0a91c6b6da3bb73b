#include "cli/tracks/track_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "cli/common/interrupt.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr int kRecordHeaderGroups = kRecordHeaderSize / kGroupSize;  // 40

static_assert(kRgbPictureSize == kPictureWidth * kPictureHeight * 3);
static_assert(kFirstRecordOffset == kWaveHeaderSize + kLeadInSize);

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string Format(const char* format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// A four-character tag as text when it is printable, as hex bytes otherwise.
std::string ShowTag(const char* tag) {
  bool printable = true;
  for (int i = 0; i < 4; ++i) {
    if (tag[i] < 0x20 || tag[i] > 0x7E) printable = false;
  }
  if (printable) return "\"" + std::string(tag, 4) + "\"";
  return Format("bytes %02X %02X %02X %02X", static_cast<uint8_t>(tag[0]),
                static_cast<uint8_t>(tag[1]), static_cast<uint8_t>(tag[2]),
                static_cast<uint8_t>(tag[3]));
}

// True when group g of the 400 bytes at p carries the template's data bytes; the
// tenth byte of every group is an audio slot and may hold any sound.
bool GroupMatchesTemplate(const uint8_t* p, int g) {
  return std::memcmp(p + g * kGroupSize, kRecordHeaderTemplate + g * kGroupSize,
                     kAudioSlotOffset) == 0;
}

bool IsTableGroup(int g) {
  return g >= levels::kFirstGroup && g < levels::kFirstGroup + levels::kGroupCount;
}

// The header's sync and all-ones groups: every group but the level tables'.
bool FixedGroupsMatch(const uint8_t* p) {
  for (int g = 0; g < kRecordHeaderGroups; ++g) {
    if (!IsTableGroup(g) && !GroupMatchesTemplate(p, g)) return false;
  }
  return true;
}

// The first data byte of the level tables that breaks their form (an address out of
// its place, a level over 31, a group not ending in 0xFF); -1 when they are whole.
int FirstBadTableByte(const uint8_t* p) {
  for (int c = 0; c < levels::kComponents; ++c) {
    for (int n = 0; n < levels::kEntries; ++n) {
      const int at = levels::PairOffset(c, n);
      if (p[at] >= levels::kPanelLevels) return at;
      if (p[at + 1] != levels::kTableAddress[c] + n) return at + 1;
    }
  }
  for (int g = levels::kFirstGroup; g < levels::kFirstGroup + levels::kGroupCount; ++g) {
    const int at = g * kGroupSize + levels::kPairsPerGroup * 2;
    if (p[at] != levels::kGroupEnd) return at;
  }
  return -1;
}

// True when the 400 bytes at p are a record header as the player finds one: the
// template's sync and all-ones groups, and three well-formed level tables holding
// any levels.
bool MatchesRecordHeader(const uint8_t* p) {
  return FixedGroupsMatch(p) && FirstBadTableByte(p) < 0;
}

bool IsAudioSlot(int record_offset) { return record_offset % kGroupSize == kAudioSlotOffset; }

// How much is read between two looks at Ctrl-C: often enough that a scan of a whole
// disc stops at once, seldom enough that a short track is always checked whole.
constexpr uint64_t kStopCheckBytes = uint64_t{1} << 20;

// The source as a check reads it: once Ctrl-C asked to stop, every read fails, and
// the check, like any caller that meets a failed read, ends there.
class StoppableSource final : public ByteSource {
 public:
  explicit StoppableSource(ByteSource& source) : source_(source) {}
  uint64_t Size() const override { return source_.Size(); }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
    since_check_ += count;
    if (since_check_ >= kStopCheckBytes) {
      since_check_ = 0;
      stopped_ = stopped_ || StopRequested();
    }
    return !stopped_ && source_.ReadAt(offset, out, count);
  }
  bool stopped() const { return stopped_; }

 private:
  ByteSource& source_;
  uint64_t since_check_ = 0;
  bool stopped_ = false;
};

class Inspector {
 public:
  Inspector(ByteSource& source, const InspectOptions& options, TrackReport& report)
      : source_(source),
        options_(options),
        report_(report),
        data_start_(options.headerless ? 0 : kWaveHeaderSize) {}

  void Run() {
    Check();
    report_.interrupted = source_.stopped();
    std::stable_sort(
        report_.problems.begin(), report_.problems.end(),
        [](const TrackProblem& a, const TrackProblem& b) { return a.offset < b.offset; });
  }

 private:
  void Problem(uint64_t offset, std::string what) {
    ++report_.problem_count;
    if (report_.problems.size() < kMaxListedProblems) {
      report_.problems.push_back({offset, std::move(what)});
    }
  }

  bool Read(uint64_t offset, uint8_t* out, size_t count) {
    if (source_.ReadAt(offset, out, count)) return true;
    if (source_.stopped()) return false;  // not a fault of the file: Ctrl-C
    report_.read_failed = true;
    report_.read_error = Format("cannot read %zu bytes at offset %llu", count, U(offset));
    return false;
  }

  bool Present(uint64_t offset, uint64_t size) const {
    return offset + size <= report_.file_length;
  }

  void CheckTag(uint64_t offset, const char* tag, const char* expected, const char* what) {
    if (!Present(offset, 4) || std::memcmp(tag, expected, 4) == 0) return;
    Problem(offset, Format("%s is %s, expected \"%s\"", what, ShowTag(tag).c_str(), expected));
  }

  void CheckNumber(uint64_t offset, uint64_t size, uint32_t value, uint32_t expected,
                   const char* what) {
    if (!Present(offset, size) || value == expected) return;
    Problem(offset, Format("%s is %u, expected %u", what, value, expected));
  }

  // A size field against the length it must state: file length - bias.
  void CheckSizeField(uint64_t offset, uint32_t value, uint64_t bias, const char* what) {
    const uint64_t length = report_.file_length;
    if (!Present(offset, 4) || length < bias) return;
    const uint64_t expected = length - bias;
    if (expected > wav::kLargestSize) {
      Problem(offset, Format("the file is %llu bytes, too long for the %s's 32 bits "
                             "(a track holds at most %llu bytes)",
                             U(length), what, U(wav::kLargestSize)));
    } else if (value == expected) {
      return;
    } else if (value == 0) {
      Problem(offset, Format("%s is 0, expected %llu (file length - %llu): the track was "
                             "never finished",
                             what, U(expected), U(bias)));
    } else if (value > expected) {
      Problem(offset, Format("%s is %u, expected %llu (file length - %llu): it claims %llu "
                             "byte%s more than the file holds",
                             what, value, U(expected), U(bias), U(value - expected),
                             value - expected == 1 ? "" : "s"));
    } else {
      Problem(offset, Format("%s is %u, expected %llu (file length - %llu): the file has "
                             "%llu byte%s more than it states",
                             what, value, U(expected), U(bias), U(expected - value),
                             expected - value == 1 ? "" : "s"));
    }
  }

  bool CheckWavHeader() {
    uint8_t h[kWaveHeaderSize] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(report_.file_length, kWaveHeaderSize));
    if (!Read(0, h, n)) return false;
    TrackWavFields& w = report_.wav;
    using namespace wav;                                    // the header's field offsets
    std::memcpy(w.riff_tag, h + kRiffTagOffset, 4);         // "RIFF"
    w.riff_size = GetLe32(h + kRiffSizeOffset);             // file length - 8
    std::memcpy(w.wave_tag, h + kWaveTagOffset, 4);         // "WAVE"
    std::memcpy(w.fmt_tag, h + kFormatTagOffset, 4);        // "fmt "
    w.fmt_size = GetLe32(h + kFormatLengthOffset);          // 16
    w.format = GetLe16(h + kFormatCodeOffset);              // 1: PCM
    w.channels = GetLe16(h + kChannelsOffset);              // 2
    w.sample_rate = GetLe32(h + kSampleRateOffset);         // 44100
    w.byte_rate = GetLe32(h + kByteRateOffset);             // 176400
    w.block_align = GetLe16(h + kBlockAlignOffset);         // 4
    w.bits_per_sample = GetLe16(h + kBitsPerSampleOffset);  // 16
    std::memcpy(w.data_tag, h + kDataTagOffset, 4);         // "data"
    w.data_size = GetLe32(h + kDataSizeOffset);             // file length - 44
    report_.header_complete = n == kWaveHeaderSize;

    CheckTag(kRiffTagOffset, w.riff_tag, "RIFF", "the RIFF tag");
    CheckSizeField(kRiffSizeOffset, w.riff_size, kRiffSizeFrom, "RIFF size field");
    CheckTag(kWaveTagOffset, w.wave_tag, "WAVE", "the form type");
    CheckTag(kFormatTagOffset, w.fmt_tag, "fmt ", "the format chunk tag");
    CheckNumber(kFormatLengthOffset, 4, w.fmt_size, kFormatChunkLength, "the format chunk length");
    CheckNumber(kFormatCodeOffset, 2, w.format, kFormatPcm, "the format code (1: PCM)");
    CheckNumber(kChannelsOffset, 2, w.channels, kTrackChannels, "the channel count");
    CheckNumber(kSampleRateOffset, 4, w.sample_rate, kTrackSampleRate, "the sample rate");
    CheckNumber(kByteRateOffset, 4, w.byte_rate, kTrackByteRate, "the byte rate");
    CheckNumber(kBlockAlignOffset, 2, w.block_align, kTrackBlockAlign, "the block alignment");
    CheckNumber(kBitsPerSampleOffset, 2, w.bits_per_sample, kTrackBitsPerSample,
                "the bits per sample");
    CheckTag(kDataTagOffset, w.data_tag, "data", "the data chunk tag");
    CheckSizeField(kDataSizeOffset, w.data_size, kWaveHeaderSize, "data size field");
    if (!report_.header_complete) {
      Problem(report_.file_length,
              Format("the file ends after %llu bytes, inside the 44-byte WAV header",
                     U(report_.file_length)));
    }
    return true;
  }

  void Check() {
    report_.file_length = source_.Size();
    if (report_.file_length == 0) {
      Problem(0, "the file is empty");
      return;
    }
    if (options_.headerless) {
      report_.header_complete = true;
    } else if (!CheckWavHeader()) {
      return;
    }
    if (!LocateFirstRecord()) return;
    if (!CheckLeadIn()) return;
    CheckRecords();
  }

  bool HeaderAt(uint64_t offset) {
    uint8_t header[kRecordHeaderSize];
    if (!Present(offset, kRecordHeaderSize)) return false;
    if (!Read(offset, header, sizeof header)) return false;
    return MatchesRecordHeader(header);
  }

  // Record 0 is at 2092 in the module's tracks. Where no header is there, the first
  // header found tells whether record 0 is merely damaged (a later header sits on
  // the 19600-byte grid from 2092) or the lead-in has another length.
  bool LocateFirstRecord() {
    const uint64_t standard = data_start_ + kLeadInSize;
    report_.first_record = standard;
    if (HeaderAt(standard)) return true;
    if (report_.read_failed || source_.stopped()) return false;
    const uint64_t found = FindFirstRecord(source_, options_.headerless);
    if (source_.stopped()) return false;
    if (found >= report_.file_length && options_.headerless) {
      report_.first_record = 0;
      no_records_ = true;
      return true;
    }
    if (found >= report_.file_length) {
      if (report_.file_length >= standard + kRecordHeaderSize) {
        Problem(kWaveHeaderSize, "no record header anywhere in the file: this is not a track");
      }
      return true;
    }
    if (found == standard) return true;
    report_.first_record = found;
    if (!options_.lenient && !options_.headerless) {
      Problem(kWaveHeaderSize,
              Format("the lead-in is %llu bytes, expected %d: the first record header is at "
                     "offset %llu (--lenient reads tracks from other encoders)",
                     U(found - kWaveHeaderSize), kLeadInSize, U(found)));
    }
    return true;
  }

  bool CheckLeadIn() {
    if (no_records_) return true;
    const uint64_t start = data_start_;
    const uint64_t end = report_.first_record;
    report_.lead_in_length = end - start;
    if (!report_.header_complete) return true;  // the header's end is reported already
    const uint64_t present_end = std::min(end, report_.file_length);
    uint8_t chunk[4096];
    uint64_t first_nonzero = 0;
    for (uint64_t at = start; at < present_end;) {
      const size_t n = static_cast<size_t>(std::min<uint64_t>(sizeof chunk, present_end - at));
      if (!Read(at, chunk, n)) return false;
      for (size_t i = 0; i < n; ++i) {
        if (chunk[i] == 0) continue;
        if (report_.lead_in_nonzero++ == 0) first_nonzero = at + i;
      }
      at += n;
    }
    if (report_.lead_in_nonzero > 0 && !options_.headerless) {
      Problem(first_nonzero,
              Format("the lead-in holds %llu non-zero bytes (it must be silence, 0x00); the "
                     "first is at offset %llu",
                     U(report_.lead_in_nonzero), U(first_nonzero)));
    }
    if (report_.file_length < end) {
      Problem(report_.file_length,
              Format("the file ends after %llu bytes, inside the %llu-byte lead-in",
                     U(report_.file_length), U(report_.lead_in_length)));
    }
    return true;
  }

  // Headerless: where the zero bytes at the end of the track begin.
  bool FindPaddingStart(uint64_t* start) {
    uint8_t chunk[4096];
    uint64_t end = report_.file_length;
    while (end > report_.first_record) {
      const size_t n =
          static_cast<size_t>(std::min<uint64_t>(sizeof chunk, end - report_.first_record));
      if (!Read(end - n, chunk, n)) return false;
      for (size_t i = n; i > 0; --i) {
        if (chunk[i - 1] != 0) {
          *start = end - n + i;
          return true;
        }
      }
      end -= n;
    }
    *start = end;
    return true;
  }

  void CheckRecords() {
    const uint64_t first = report_.first_record;
    if (report_.file_length < first) return;
    uint64_t data = report_.file_length - first;
    if (options_.headerless) {
      uint64_t padding_start = 0;
      if (!FindPaddingStart(&padding_start)) return;
      if (no_records_) {
        if (padding_start > 0) {
          Problem(0, "no record header anywhere in the track: it holds no video");
        } else {
          report_.padding_bytes = report_.file_length;  // silence
        }
        return;
      }
      // The records reach up to the last non-zero byte; whole zero bytes after them
      // are padding, but a record the track ends inside is still cut off.
      const uint64_t used = padding_start - first;
      const uint64_t span = (used + kFrameRecordSize - 1) / kFrameRecordSize * kFrameRecordSize;
      if (span <= data) {
        report_.padding_bytes = data - span;
        data = span;
      }
    }
    report_.record_count = data / kFrameRecordSize;
    report_.partial_record_bytes = data % kFrameRecordSize;
    if (data == 0) Problem(first, "no frame records after the lead-in");
    if (!options_.headerless && !TakeSectorPadding(first + data)) return;

    std::vector<uint8_t> record(kFrameRecordSize);
    for (uint64_t k = 0; k < report_.record_count; ++k) {
      const uint64_t offset = first + k * kFrameRecordSize;
      if (!Read(offset, record.data(), record.size())) return;
      CheckRecordHeader(k, offset, record.data());
      bool sound = false;
      for (int i = kAudioSlotOffset; i < kFrameRecordSize; i += kGroupSize) {
        if (record[static_cast<size_t>(i)] != kSilence) {
          sound = true;
          break;
        }
      }
      if (sound && report_.records_with_sound++ == 0) report_.first_sound_record = k;
      if (options_.progress && (k + 1) % 256 == 0) options_.progress(k + 1, report_.record_count);
    }
    if (options_.progress) options_.progress(report_.record_count, report_.record_count);

    if (report_.partial_record_bytes > 0) {
      Problem(first + report_.record_count * kFrameRecordSize,
              Format("record %llu is cut off: only %llu of its %d bytes are in the file",
                     U(report_.record_count), U(report_.partial_record_bytes), kFrameRecordSize));
    }
  }

  // A track file split out of a disc image ends in the zero bytes that filled its
  // last sector. Fewer zero bytes than a record after the last whole record are that
  // padding, not a cut-off record: a record starts with its header, never with zeros.
  bool TakeSectorPadding(uint64_t end) {
    const uint64_t tail = report_.partial_record_bytes;
    if (tail == 0) return true;
    std::vector<uint8_t> bytes(static_cast<size_t>(tail));
    if (!Read(end - tail, bytes.data(), bytes.size())) return false;
    if (std::any_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b != 0; })) return true;
    report_.padding_bytes = tail;
    report_.partial_record_bytes = 0;
    return true;
  }

  void CheckRecordHeader(uint64_t k, uint64_t offset, const uint8_t* record) {
    int differing = 0;
    int first = -1;
    for (int i = 0; i < kRecordHeaderSize; ++i) {
      if (IsAudioSlot(i) || IsTableGroup(i / kGroupSize) || record[i] == kRecordHeaderTemplate[i]) {
        continue;
      }
      if (differing++ == 0) first = i;
    }
    const int bad_table_byte = FirstBadTableByte(record);
    if (differing == 0 && bad_table_byte < 0) {
      NoteLevels(k, record);
      return;
    }
    ++report_.bad_header_records;
    if (differing == 0) {
      Problem(offset + static_cast<uint64_t>(bad_table_byte),
              Format("record %llu: the record header's level tables are damaged; header byte "
                     "%d is 0x%02X",
                     U(k), bad_table_byte, record[bad_table_byte]));
      return;
    }
    Problem(offset + static_cast<uint64_t>(first),
            Format("record %llu: the record header differs from the template in %d data "
                   "byte%s; header byte %d is 0x%02X, expected 0x%02X",
                   U(k), differing, differing == 1 ? "" : "s", first, record[first],
                   kRecordHeaderTemplate[first]));
  }

  // The first whole header's tables are the track's; later records that carry other
  // ones are counted (a player may or may not take tables that change inside a track).
  void NoteLevels(uint64_t k, const uint8_t* record) {
    levels::Tables tables{};
    ReadLevelTables(record, &tables);
    if (!report_.levels_known) {
      report_.levels = tables;
      report_.levels_known = true;
      report_.first_levels_record = k;
    } else if (!levels::SameTables(tables, report_.levels)) {
      ++report_.level_changes;
    }
  }

  StoppableSource source_;
  const InspectOptions& options_;
  TrackReport& report_;
  const uint64_t data_start_;  // where the CD audio begins: after the WAV header, if any
  bool no_records_ = false;    // headerless, and no record header anywhere
};

}  // namespace

bool MemorySource::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  if (count > 0) std::memcpy(out, data_ + offset, count);
  return true;
}

std::unique_ptr<FileSource> FileSource::Open(const std::string& path, std::string* error) {
  // O_NONBLOCK: a FIFO would otherwise hold the open until a writer comes; it is
  // refused below like anything else that is not a regular file.
  UniqueFd fd(OpenDescriptor(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    // Windows refuses a directory at the open, where Linux opens it and fstat tells;
    // and a file another program holds open without sharing it (an encode's track).
    *error = errno == EISDIR        ? "it is a directory"
             : errno == EWOULDBLOCK ? "another program has it open"
                                    : std::strerror(errno);
    return nullptr;
  }
  struct stat info = {};
  if (::fstat(fd.get(), &info) != 0) {
    *error = std::strerror(errno);
    return nullptr;
  }
  if (!S_ISREG(info.st_mode)) {
    *error = S_ISDIR(info.st_mode)    ? "it is a directory"
             : S_ISFIFO(info.st_mode) ? "it is a FIFO, not a regular file"
                                      : "it is not a regular file";
    return nullptr;
  }
  return std::unique_ptr<FileSource>(
      new FileSource(std::move(fd), static_cast<uint64_t>(info.st_size)));
}

bool FileSource::ReadAt(uint64_t offset, uint8_t* out, size_t count) {
  if (offset > size_ || count > size_ - offset) return false;
  while (count > 0) {
    const ssize_t n = ::pread(fd_.get(), out, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;  // an error, or the file shrank under us
    out += n;
    count -= static_cast<size_t>(n);
    offset += static_cast<uint64_t>(n);
  }
  return true;
}

double TrackReport::video_seconds() const {
  return static_cast<double>(record_count) / kFramesPerSecond;
}
double TrackReport::disc_seconds() const {
  return TrackDiscSeconds(lead_in_length + record_count * static_cast<uint64_t>(kFrameRecordSize));
}

TrackReport InspectTrack(ByteSource& source, const InspectOptions& options) {
  TrackReport report;
  Inspector(source, options, report).Run();
  return report;
}

bool IsRecordHeader(const uint8_t* header) { return MatchesRecordHeader(header); }

bool ReadLevelTables(const uint8_t* header, levels::Tables* tables) {
  if (FirstBadTableByte(header) >= 0) return false;
  for (int c = 0; c < levels::kComponents; ++c) {
    for (int n = 0; n < levels::kEntries; ++n)
      tables->level[c][n] = header[levels::PairOffset(c, n)];
  }
  return true;
}

uint64_t FindFirstRecord(ByteSource& source, bool headerless) {
  const uint64_t size = source.Size();
  const uint64_t data_start = headerless ? 0 : kWaveHeaderSize;
  const uint64_t standard = data_start + kLeadInSize;
  const uint64_t found = FindRecordHeader(source, data_start);
  if (found >= size) return size;
  // A header on the grid from the standard place means record 0 is there but damaged.
  if (found >= standard && (found - standard) % kFrameRecordSize == 0) return standard;
  return found;
}

uint64_t FindRecordHeader(ByteSource& source, uint64_t from) {
  const uint64_t size = source.Size();
  if (from >= size || size - from < kRecordHeaderSize) return size;
  // Windows of up to 64 KiB, never more than the rest of the file, overlap by a
  // header's length less one, so no position is missed.
  std::vector<uint8_t> window(
      static_cast<size_t>(std::min<uint64_t>(uint64_t{1} << 16, size - from)));
  uint64_t at = from;
  while (at < size && size - at >= kRecordHeaderSize) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(window.size(), size - at));
    if (!source.ReadAt(at, window.data(), n)) return size;
    const size_t last = n - kRecordHeaderSize;  // the last start whose header fits
    const uint8_t* base = window.data();
    const uint8_t* p = base;
    while (p <= base + last) {
      p = static_cast<const uint8_t*>(
          std::memchr(p, kRecordHeaderTemplate[0], static_cast<size_t>(base + last - p) + 1));
      if (p == nullptr) break;
      if (MatchesRecordHeader(p)) return at + static_cast<uint64_t>(p - base);
      ++p;
    }
    at += last + 1;
  }
  return size;
}

}  // namespace trackloom::cli
