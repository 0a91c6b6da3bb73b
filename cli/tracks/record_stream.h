// Finds the records of a whole disc read as one stream of CD audio bytes. A drive's
// read offset moves every byte of a rip by tens to hundreds of samples, so a record
// need not start where its track's sectors would put it, and may start in one track
// and end in the next; reading the disc as one stream makes that harmless.
//
// Each track's records lie on a grid of its own: one every 19600 bytes from where its
// first record belongs. The first header found in a track fixes that grid (the slot
// nearest the track's start plus its lead-in, wherever the offset puts it), so
// records lost at a track's start are counted, not skipped; every slot from there to
// the track's end is read, or counted as damaged (shown as the picture before, with
// silence). A record is damaged when its header is not one, when a whole sector of it
// reads as zeros (what rippers write for a sector they could not read), when the
// reader said it could not read a sector of it, or when it reaches past its track's
// end by more than a slip (a track cut short, the next one's bytes in its place). A
// header a few bytes off its slot (a drive that slipped) moves the grid, at no cost.
// Tracks are never merged: a header that belongs to a later track closes the one
// before.
//
//   RecordStream stream(tracks, &sink);
//   while (reading) stream.Feed(bytes, count);
//   stream.Finish();
//   for (const ChapterReport& c : stream.chapters()) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/track_format.h"

namespace trackloom::cli {

// One audio track of the disc, where its bytes are in the stream.
struct StreamTrack {
  int number = 0;
  uint64_t start = 0;
  uint64_t length = 0;
};

class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // A new chapter begins: the records of the disc's track number follow.
  virtual bool BeginChapter(int track) = 0;
  // The chapter's next record (19600 bytes), or null for a damaged one. False stops
  // the stream (an error, already told).
  virtual bool Record(const uint8_t* record) = 0;
};

// A place in a chapter where records were damaged.
struct DamagePlace {
  uint64_t first = 0;  // record number within the chapter
  uint64_t count = 0;
};

struct ChapterReport {
  int track = 0;
  uint64_t records = 0;  // damaged ones included: the chapter's length is records / 18 s
  uint64_t damaged = 0;
  std::vector<DamagePlace> damage;
  uint64_t first_record = 0;  // stream offset of its first record (0 when before the stream)
  // Where the first record lies against where a disc read without offset has it:
  // into_track - lead_in, lead_in the known length that agrees with the other tracks.
  int64_t offset_bytes = 0;
  uint64_t lead_in = 0;
  int64_t into_track = 0;  // where the first record's slot is, from its track's start
};

// What the stream saw of each track, records or not.
struct TrackSeen {
  int number = 0;
  bool has_records = false;
  bool all_zero = true;  // silence (padding), not audio
};

// The lengths of the bytes before a track's first record that discs are known to
// have: those of the discs this program writes, and of retail discs.
inline constexpr uint64_t kKnownLeadIns[] = {kLeadInSize, kRetailLeadInSize};

class RecordStream {
 public:
  // tracks in stream order, not overlapping.
  RecordStream(std::vector<StreamTrack> tracks, RecordSink* sink);

  // The next bytes of the stream. False when the sink stopped it.
  bool Feed(const uint8_t* data, size_t size);
  // Bytes of the stream the reader could not read (handed on as whatever it had): a
  // record they touch is damaged. Given before or with the bytes themselves.
  void MarkUnreadable(uint64_t from, uint64_t length);
  // The end of the stream: the last track's records up to its end are counted, and
  // each chapter's offset is settled against the others.
  bool Finish();

  const std::vector<ChapterReport>& chapters() const { return chapters_; }
  // Until a record is found: headers seen with each sample's two bytes the other way
  // round (a big-endian image read as little-endian, or the other way).
  uint64_t swapped_headers() const { return swapped_headers_; }
  std::vector<TrackSeen> tracks_seen() const;
  uint64_t position() const { return base_ + buffer_.size(); }

 private:
  struct Range {
    uint64_t from, to;
  };
  bool Process();
  bool ReadSlot(int64_t at);
  bool Place(uint64_t at);
  bool OpenTrack(size_t index, uint64_t at);
  bool CloseTrack(uint64_t limit);
  bool Conceal(uint64_t count);
  bool Damaged(uint64_t at) const;
  int64_t Consensus() const;
  int64_t TrackEnd() const;
  uint64_t LastNonZero(uint64_t from, uint64_t to) const;
  void Drop();
  void NoteZeros(const uint8_t* data, size_t size);
  size_t TrackIndexAt(uint64_t at) const;
  void SettleOffsets();
  uint64_t NextHeader(uint64_t from) const;
  void CountSwappedHeaders(uint64_t from);

  std::vector<StreamTrack> tracks_;
  std::vector<TrackSeen> seen_;
  RecordSink* sink_;
  std::vector<uint8_t> buffer_;  // stream bytes from base_ on
  uint64_t base_ = 0;
  std::vector<Range> unreadable_;
  static constexpr size_t kNoTrack = ~size_t{0};
  size_t current_ = kNoTrack;    // the track whose chapter is open
  int64_t anchor_ = 0;           // where its slot 0 is (moved by a slip)
  bool in_run_ = false;          // its next slot is read at anchor_ + records * 19600
  bool ended_in_zeros_ = false;  // its last slot read ended in a run of zeros
  uint64_t scan_ = 0;            // searching: where the search goes on
  uint64_t tail_nonzero_ = 0;    // searching: 1 + the last non-zero byte dropped since
  std::vector<ChapterReport> chapters_;
  uint64_t swapped_headers_ = 0;
};

}  // namespace trackloom::cli
