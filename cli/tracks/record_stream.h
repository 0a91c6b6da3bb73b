// Finds the records of a whole disc read as one stream of CD audio bytes, the way a
// player finds them: by their headers, at any byte position. A drive's read offset
// moves every byte of a rip by tens to hundreds of samples, so a record need not start
// where its track's sectors would put it, and may start in one track and end in the
// next; reading the disc as one stream makes that harmless.
//
// Records come in runs: a track's records follow each other every 19600 bytes. A
// record whose header is missing or out of place within a run is damaged: it is
// handed on as damaged (shown as the picture before, with silence) and counted, so
// the run's timing is kept. A header off the run's grid in the next track starts that
// track's run.
//
//   RecordStream stream(tracks, &sink);
//   while (reading) stream.Feed(bytes, count);
//   stream.Finish();
//   for (const ChapterReport& c : stream.chapters()) ...
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

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
  uint64_t first_record = 0;  // stream offset of its first record
  // Where the first record lies against where a disc read without offset has it:
  // first_record - (track start + lead_in), lead_in the nearest of the known lengths.
  int64_t offset_bytes = 0;
  uint64_t lead_in = 0;
  int64_t into_track = 0;  // first_record - its track's start
};

// What the stream saw of each track, records or not.
struct TrackSeen {
  int number = 0;
  bool has_records = false;
  bool all_zero = true;  // silence (padding), not audio
};

// The lengths of the bytes before a track's first record that discs are known to
// have: 2048 in the discs this program writes, 392 on retail discs.
inline constexpr uint64_t kKnownLeadIns[] = {2048, 392};

class RecordStream {
 public:
  // tracks in stream order, not overlapping.
  RecordStream(std::vector<StreamTrack> tracks, RecordSink* sink);

  // The next bytes of the stream. False when the sink stopped it.
  bool Feed(const uint8_t* data, size_t size);
  // The end of the stream: a record it cut off is counted as damaged, and each
  // chapter's offset is settled against the others.
  bool Finish();

  const std::vector<ChapterReport>& chapters() const { return chapters_; }
  std::vector<TrackSeen> tracks_seen() const;
  uint64_t position() const { return base_ + buffer_.size(); }

 private:
  bool Process();
  bool StartRun(uint64_t at);
  bool Conceal(uint64_t count);
  bool OpenChapter(uint64_t at);
  void NoteZeros(const uint8_t* data, size_t size);
  size_t TrackIndexAt(uint64_t at) const;
  void SettleOffsets();
  uint64_t NextHeader(uint64_t from) const;

  std::vector<StreamTrack> tracks_;
  std::vector<TrackSeen> seen_;
  RecordSink* sink_;
  std::vector<uint8_t> buffer_;  // stream bytes from base_ on
  uint64_t base_ = 0;
  bool in_run_ = false;
  bool have_shift_ = false;
  int64_t shift_ = 0;  // the disc's offset, measured at its first record
  uint64_t next_ = 0;  // in a run: where its next record starts
  uint64_t scan_ = 0;  // searching: where the search goes on
  uint64_t lost_ = 0;  // searching after a run: where its missing record began
  std::vector<ChapterReport> chapters_;
};

}  // namespace trackloom::cli
