#include "cli/tracks/record_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>

#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

constexpr uint64_t kNone = ~uint64_t{0};
constexpr uint64_t kRecord = kFrameRecordSize;
constexpr int64_t kSignedRecord = kFrameRecordSize;
constexpr uint64_t kSector = 2352;  // CD audio bytes a sector
// A header at most this far from its slot is the same record, the grid moved by a
// drive that slipped.
constexpr int64_t kSlip = 2352;
// A zero run this long ending a slot, or inside one of a sector's bytes, is no picture:
// every 10 bytes of a record hold a sound sample, and silence is 0x80.
constexpr uint64_t kZeroRun = 64;
// Bytes already looked at are dropped once this many have gathered.
constexpr uint64_t kDropAfter = 256 * 1024;

bool AllZero(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

int64_t Signed(uint64_t v) { return static_cast<int64_t>(v); }

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }

// The known lead-in that puts a first record into_track bytes into its track
// nearest to an offset of near, and the record's offset from where it puts it.
void MeasureOffset(int64_t into_track, int64_t near, uint64_t* lead_in, int64_t* offset) {
  bool first = true;
  for (const uint64_t l : kKnownLeadIns) {
    const int64_t o = into_track - Signed(l);
    if (first || std::llabs(o - near) < std::llabs(*offset - near)) {
      *lead_in = l;
      *offset = o;
      first = false;
    }
  }
}

}  // namespace

RecordStream::RecordStream(std::vector<StreamTrack> tracks, RecordSink* sink)
    : tracks_(std::move(tracks)), sink_(sink) {
  for (const StreamTrack& t : tracks_) seen_.push_back(TrackSeen{t.number, false, true});
  if (tracks_.empty()) tracks_.push_back(StreamTrack{1, 0, kNone / 2});
}

std::vector<TrackSeen> RecordStream::tracks_seen() const { return seen_; }

bool RecordStream::Feed(const uint8_t* data, size_t size) {
  NoteZeros(data, size);
  buffer_.insert(buffer_.end(), data, data + size);
  return Process();
}

void RecordStream::MarkUnreadable(uint64_t from, uint64_t length) {
  unreadable_.push_back(Range{from, from + length});
}

bool RecordStream::Finish() {
  const bool ok = current_ == kNoTrack || CloseTrack(position());
  SettleOffsets();
  return ok;
}

bool RecordStream::Process() {
  const uint64_t end = position();
  for (;;) {
    if (in_run_) {
      const int64_t at = anchor_ + Signed(chapters_.back().records * kRecord);
      if (static_cast<uint64_t>(at) + kRecord > end) break;
      if (IsRecordHeader(&buffer_[static_cast<size_t>(at) - base_])) {
        if (!ReadSlot(at)) return false;
        continue;
      }
      // Not where the grid has it: a slip, damage, or the track's end.
      in_run_ = false;
      scan_ = std::max<uint64_t>(base_, static_cast<uint64_t>(std::max<int64_t>(at - kSlip, 0)));
      tail_nonzero_ = 0;
    }
    const uint64_t found = NextHeader(scan_);
    if (found == kNone) {
      if (chapters_.empty()) CountSwappedHeaders(scan_);
      if (end >= kRecordHeaderSize) scan_ = std::max(scan_, end - kRecordHeaderSize + 1);
      break;
    }
    scan_ = found + 1;
    if (!Place(found)) return false;
  }
  Drop();
  return true;
}

bool RecordStream::ReadSlot(int64_t at) {
  const uint8_t* record = &buffer_[static_cast<size_t>(at) - base_];
  ended_in_zeros_ = AllZero(record + kRecord - kZeroRun, kZeroRun);
  // A record reaching further into the next track than a drive's offset moves it is
  // cut: its track is shorter than its records, and its end is the next track's.
  if (Damaged(static_cast<uint64_t>(at)) || at + kSignedRecord > TrackEnd() + kSlip)
    return Conceal(1);
  if (!sink_->Record(record)) return false;
  ++chapters_.back().records;
  return true;
}

// A record whose bytes the reader could not read, or with a sector of zeros in it
// (what a ripper writes for a sector it could not read), is damaged.
bool RecordStream::Damaged(uint64_t at) const {
  for (const Range& r : unreadable_) {
    if (r.from < at + kRecord && r.to > at) return true;
  }
  const StreamTrack& t = tracks_[TrackIndexAt(at)];
  uint64_t b = at >= t.start ? t.start + (at - t.start) / kSector * kSector : at;
  for (; b < at + kRecord; b += kSector) {
    const uint64_t lo = std::max(b, at);
    const uint64_t hi = std::min(b + kSector, at + kRecord);
    if (hi - lo >= kZeroRun && AllZero(&buffer_[lo - base_], hi - lo)) return true;
  }
  return false;
}

// A header found while searching: the same track's grid further on (records lost
// between, or a slip), or the first found of a later track.
bool RecordStream::Place(uint64_t at) {
  const int64_t lead = Consensus() + kLeadInSize;
  const size_t u = TrackIndexAt(
      static_cast<uint64_t>(std::max<int64_t>(Signed(at) - lead + kSignedRecord / 2, 0)));
  if (current_ != kNoTrack && u <= current_) {
    ChapterReport& c = chapters_.back();
    const int64_t gap = Signed(at) - (anchor_ + Signed(c.records * kRecord));
    if (gap < -kSlip) return true;
    if (gap > kSlip && !Conceal(static_cast<uint64_t>(gap + kSignedRecord / 2) / kRecord))
      return false;
    anchor_ = Signed(at) - Signed(c.records * kRecord);
    in_run_ = true;
    return true;
  }
  if (current_ != kNoTrack && !CloseTrack(at)) return false;
  return OpenTrack(u, at);
}

// The track's slot 0 is the one nearest where the offset the other tracks show and
// this program's lead-in put it; the slots before the header found were lost.
bool RecordStream::OpenTrack(size_t index, uint64_t at) {
  const StreamTrack& t = tracks_[index];
  const int64_t near = Consensus();
  const int64_t low =
      std::min(Signed(t.start) + near + kLeadInSize - kSignedRecord / 2, Signed(at));
  const int64_t lost = FloorDiv(Signed(at) - low, kSignedRecord);
  ChapterReport c;
  c.track = t.number;
  anchor_ = Signed(at) - lost * kSignedRecord;
  c.first_record = static_cast<uint64_t>(std::max<int64_t>(anchor_, 0));
  c.into_track = anchor_ - Signed(t.start);
  MeasureOffset(c.into_track, near, &c.lead_in, &c.offset_bytes);
  if (index < seen_.size()) seen_[index].has_records = true;
  chapters_.push_back(c);
  current_ = index;
  in_run_ = true;
  ended_in_zeros_ = false;
  if (!sink_->BeginChapter(c.track)) return false;
  return Conceal(static_cast<uint64_t>(lost));
}

// After the last record read, the slots up to the track's end that held anything
// but zeros were records, damaged; zeros from right after a record on are the
// track's padding. A run of zeros that began inside a record is damage reaching to
// the track's end: every slot the track's length leaves room for is counted.
bool RecordStream::CloseTrack(uint64_t limit) {
  const ChapterReport& c = chapters_.back();
  const int64_t next = anchor_ + Signed(c.records * kRecord);
  const int64_t end = TrackEnd();
  uint64_t room = 0;
  for (int64_t s = next; s + Signed(kSector) < end && s + kRecordHeaderSize <= Signed(limit);
       s += kSignedRecord)
    ++room;
  const uint64_t from = std::max<uint64_t>(static_cast<uint64_t>(next), base_);
  const uint64_t to = static_cast<uint64_t>(std::min(end, Signed(limit)));
  const uint64_t z = std::max(tail_nonzero_, from < to ? LastNonZero(from, to) : 0);
  uint64_t lost = ended_in_zeros_ ? room : 0;
  if (z > static_cast<uint64_t>(next)) {
    const uint64_t j = (z - 1 - static_cast<uint64_t>(next)) / kRecord;
    const uint64_t edge = static_cast<uint64_t>(next) + (j + 1) * kRecord;
    lost = edge - z < kZeroRun ? std::min(j + 1, room) : room;
  }
  // A track whose header was found holds a record there, however short the track
  // ends it: a chapter is never left without one.
  if (c.records == 0) lost = std::max<uint64_t>(lost, 1);
  current_ = kNoTrack;
  in_run_ = false;
  return Conceal(lost);
}

bool RecordStream::Conceal(uint64_t count) {
  ChapterReport& c = chapters_.back();
  if (count == 0) return true;
  if (!c.damage.empty() && c.damage.back().first + c.damage.back().count == c.records) {
    c.damage.back().count += count;
  } else {
    c.damage.push_back(DamagePlace{c.records, count});
  }
  for (uint64_t i = 0; i < count; ++i) {
    if (!sink_->Record(nullptr)) return false;
    ++c.records;
    ++c.damaged;
  }
  return true;
}

// The disc's offset, as most tracks show it. A track's lead-in is one of the known
// lengths; this program's, after the disc's first track, counts double, so a disc of
// its tracks is told apart from one whose lead-ins are all the retail length.
int64_t RecordStream::Consensus() const {
  std::map<int64_t, int> votes;
  for (const ChapterReport& c : chapters_) {
    const bool first = c.track == tracks_.front().number;
    for (const uint64_t l : kKnownLeadIns)
      votes[c.into_track - Signed(l)] += l == kLeadInSize && !first ? 2 : 1;
  }
  int64_t best = 0;
  int most = 0;
  for (const auto& [offset, count] : votes) {
    if (count > most || (count == most && std::llabs(offset) < std::llabs(best))) {
      best = offset;
      most = count;
    }
  }
  return best;
}

// Where the open track's bytes end in the stream, moved by the disc's offset.
int64_t RecordStream::TrackEnd() const {
  const StreamTrack& t = tracks_[current_];
  return Signed(t.start + t.length) + Consensus();
}

uint64_t RecordStream::LastNonZero(uint64_t from, uint64_t to) const {
  from = std::max(from, base_);
  to = std::min(to, position());
  for (uint64_t i = to; i > from; --i) {
    if (buffer_[i - 1 - base_] != 0) return i;
  }
  return 0;
}

void RecordStream::Drop() {
  const uint64_t end = position();
  uint64_t keep_from = scan_;
  if (in_run_) {
    keep_from = static_cast<uint64_t>(
        std::max<int64_t>(anchor_ + Signed(chapters_.back().records * kRecord) - kSlip, 0));
  }
  keep_from = std::min(std::max(keep_from, base_), end);
  if (keep_from - base_ < kDropAfter) return;
  if (current_ != kNoTrack && !in_run_) {
    // What the track's end will be judged by.
    const int64_t next = anchor_ + Signed(chapters_.back().records * kRecord);
    const uint64_t to =
        static_cast<uint64_t>(std::max<int64_t>(std::min(TrackEnd(), Signed(keep_from)), 0));
    tail_nonzero_ = std::max(tail_nonzero_, LastNonZero(static_cast<uint64_t>(next), to));
  }
  buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(keep_from - base_));
  base_ = keep_from;
  unreadable_.erase(std::remove_if(unreadable_.begin(), unreadable_.end(),
                                   [this](const Range& r) { return r.to <= base_; }),
                    unreadable_.end());
}

uint64_t RecordStream::NextHeader(uint64_t from) const {
  const uint64_t end = position();
  if (end < kRecordHeaderSize || from < base_ || from > end - kRecordHeaderSize) return kNone;
  const uint8_t* data = buffer_.data();
  size_t i = static_cast<size_t>(from - base_);
  const size_t last = static_cast<size_t>(end - kRecordHeaderSize - base_);
  while (i <= last) {
    const void* hit = std::memchr(data + i, kRecordHeaderTemplate[0], last - i + 1);
    if (hit == nullptr) return kNone;
    i = static_cast<size_t>(static_cast<const uint8_t*>(hit) - data);
    if (IsRecordHeader(data + i)) return base_ + i;
    ++i;
  }
  return kNone;
}

// Samples are whole byte pairs from the stream's start, so a swapped header starts
// at an even byte.
void RecordStream::CountSwappedHeaders(uint64_t from) {
  const uint64_t end = position();
  uint8_t turned[kRecordHeaderSize];
  for (uint64_t at = std::max(from, base_) + 1; at + kRecordHeaderSize <= end + 1;) {
    const void* hit =
        std::memchr(&buffer_[at - base_], kRecordHeaderTemplate[0], static_cast<size_t>(end - at));
    if (hit == nullptr) return;
    at = base_ + static_cast<uint64_t>(static_cast<const uint8_t*>(hit) - buffer_.data());
    if (at % 2 == 1 && at - 1 + kRecordHeaderSize <= end) {
      const uint8_t* h = &buffer_[at - 1 - base_];
      for (size_t i = 0; i < kRecordHeaderSize; i += 2) {
        turned[i] = h[i + 1];
        turned[i + 1] = h[i];
      }
      swapped_headers_ += IsRecordHeader(turned) ? 1 : 0;
    }
    ++at;
  }
}

void RecordStream::SettleOffsets() {
  // A drive's offset moves every track alike, while lead-ins differ from track to
  // track (a retail first track before tracks of this program): each chapter takes
  // the lead-in that puts it nearest the offset most chapters show.
  const int64_t offset = Consensus();
  for (ChapterReport& c : chapters_)
    MeasureOffset(c.into_track, offset, &c.lead_in, &c.offset_bytes);
}

size_t RecordStream::TrackIndexAt(uint64_t at) const {
  const auto after = std::upper_bound(tracks_.begin(), tracks_.end(), at,
                                      [](uint64_t v, const StreamTrack& t) { return v < t.start; });
  return after == tracks_.begin() ? 0 : static_cast<size_t>(after - tracks_.begin() - 1);
}

void RecordStream::NoteZeros(const uint8_t* data, size_t size) {
  const uint64_t from = position();
  for (size_t i = 0; i < tracks_.size(); ++i) {
    const StreamTrack& t = tracks_[i];
    if (!seen_[i].all_zero || t.start >= from + size || t.start + t.length <= from) continue;
    const uint64_t a = std::max(from, t.start);
    const uint64_t b = std::min(from + size, t.start + t.length);
    if (!AllZero(data + (a - from), static_cast<size_t>(b - a))) seen_[i].all_zero = false;
  }
}

}  // namespace trackloom::cli
