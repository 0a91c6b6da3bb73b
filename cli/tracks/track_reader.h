// Reads track files back: checks every structural property of one (WAV header, size
// fields, lead-in, records, record headers), finds its records, and takes each
// record apart into its picture and its sound.
//
// This is an independent check of what the module writes, so it shares nothing with
// the writer but the format's constants. It parses outside bytes: every read is
// bounded by the file's length, and every problem is reported with its byte offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cli/common/unique_fd.h"
#include "core/track_format.h"

namespace trackloom::cli {

// Random access to the bytes of one file (or of a buffer, for tests and fuzzing).
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly count bytes at offset; offset + count never exceeds Size().
  // False on an I/O error.
  virtual bool ReadAt(uint64_t offset, uint8_t* out, size_t count) = 0;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

class FileSource final : public ByteSource {
 public:
  // Null, with a message naming the reason in *error, when path cannot be opened
  // as a regular file.
  static std::unique_ptr<FileSource> Open(const std::string& path, std::string* error);
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t Size() const override { return size_; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override;

 private:
  FileSource(UniqueFd fd, uint64_t size) : fd_(std::move(fd)), size_(size) {}
  UniqueFd fd_;
  uint64_t size_;
};

struct TrackProblem {
  uint64_t offset;  // byte offset in the file where the problem is seen
  std::string what;
};

// The 44-byte WAV header's fields as stored (little-endian), valid as far as the
// file reaches: a field the file ends inside reads as 0.
struct TrackWavFields {
  char riff_tag[4];
  uint32_t riff_size;
  char wave_tag[4];
  char fmt_tag[4];
  uint32_t fmt_size;
  uint16_t format;
  uint16_t channels;
  uint32_t sample_rate;
  uint32_t byte_rate;
  uint16_t block_align;
  uint16_t bits_per_sample;
  char data_tag[4];
  uint32_t data_size;
};

struct TrackReport {
  uint64_t file_length = 0;
  TrackWavFields wav{};
  bool header_complete = false;       // the file holds all 44 header bytes
  uint64_t first_record = 0;          // offset of record 0 (2092 in the module's tracks)
  uint64_t lead_in_length = 0;        // bytes between the WAV header and record 0
  uint64_t lead_in_nonzero = 0;       // lead-in bytes that are not 0x00
  uint64_t record_count = 0;          // whole records
  uint64_t partial_record_bytes = 0;  // bytes of a cut-off record at the end
  uint64_t records_with_sound = 0;    // records with an audio slot other than 0x80
  uint64_t first_sound_record = 0;    // valid when records_with_sound > 0
  uint64_t bad_header_records = 0;    // records whose header is not a record header
  // The level tables of the first record with a whole header (levels_known): the
  // standard ramp in the module's tracks, a retail track's own in others; and how
  // many later records carry other tables.
  bool levels_known = false;
  levels::Tables levels = levels::StandardTables();
  uint64_t first_levels_record = 0;
  uint64_t level_changes = 0;
  // Zero bytes after the last whole record: a disc track's sector padding. A track
  // file split out of a disc image keeps it too; there it is fewer than a record's
  // bytes (more would be a cut-off record of silence).
  uint64_t padding_bytes = 0;
  uint64_t problem_count = 0;          // all problems, listed or not
  std::vector<TrackProblem> problems;  // the first kMaxListedProblems of them
  bool read_failed = false;            // an I/O error stopped the check
  std::string read_error;
  bool interrupted = false;  // Ctrl-C stopped the check: what follows is unknown

  bool valid() const { return problem_count == 0 && !read_failed && !interrupted; }
  double video_seconds() const;  // 18 records a second
  double disc_seconds() const;   // of the lead-in and the whole records, as CD audio
};

inline constexpr size_t kMaxListedProblems = 100;

struct InspectOptions {
  // Accept any lead-in length: record 0 is wherever the first record header is.
  bool lenient = false;
  // The source is one track of a disc image: CD audio with no WAV header. Record 0 is
  // wherever the first record header is (as with lenient), the bytes before it are
  // not judged (a drive's offset puts anything there), and zero bytes after the last
  // record are the track's sector padding. A track of zero bytes only is silence,
  // not a problem.
  bool headerless = false;
  // Called now and then with (records checked, whole records in the file).
  std::function<void(uint64_t, uint64_t)> progress;
};

// Checks the whole file. Never reads outside source's bytes. A long check looks now
// and then whether Ctrl-C asked to stop (StopRequested) and then gives up, with
// report.interrupted set; a file of a few records is always checked whole.
TrackReport InspectTrack(ByteSource& source, const InspectOptions& options);

// Where the next possible record header starts at or after from: the offset of the
// first place whose 400 bytes are a record header (IsRecordHeader). Size() when there
// is none.
uint64_t FindRecordHeader(ByteSource& source, uint64_t from);

// Where record 0 is, read as a player reads a track: at 2092 when a record header is
// there or on the 19600-byte grid from it (record 0 merely damaged), otherwise at the
// first record header (another encoder's lead-in). Size() when there is none.
// headerless: source is a track of a disc image, without the WAV header (2048, not 2092).
uint64_t FindFirstRecord(ByteSource& source, bool headerless = false);

// True when the 400 bytes at header are a record header as the player finds one: the
// template's sync groups (0-23) and all-ones groups (36-39) in every data byte (the
// audio slots may hold anything), and three well-formed level tables in groups 24-35
// (every address in its place, every level 0-31), whatever levels they hold.
bool IsRecordHeader(const uint8_t* header);

// The level tables of a record header into *tables; false, leaving it alone, when
// they are not well-formed.
bool ReadLevelTables(const uint8_t* header, levels::Tables* tables);

// One record picture: 144 x 80 pixels, 3 bytes (R, G, B) each, top row first.
inline constexpr int kRgbPictureSize = kPictureWidth * kPictureHeight * 3;

// Undoes the frame encoder's layout and shows every component as the panel does: a
// stored value n of component c at round(tables.level[c][n] x 255 / 31).
// frame_block is the record's 19200 bytes after its 400-byte header.
void DecodeFramePicture(const uint8_t* frame_block, uint8_t* rgb,
                        const levels::Tables& tables = levels::StandardTables());

// The picture of a whole record (header and frame block) at the levels of its own
// header's tables, or the standard ones where they are damaged.
void DecodeRecordPicture(const uint8_t* record, uint8_t* rgb);

// The record's 1960 audio slots in record order: its 1/18 s of 8-bit stereo sound.
void ExtractRecordSound(const uint8_t* record, uint8_t* sound);

}  // namespace trackloom::cli
