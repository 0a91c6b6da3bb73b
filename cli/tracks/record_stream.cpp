#include "cli/tracks/record_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {
namespace {

constexpr uint64_t kNone = ~uint64_t{0};
constexpr uint64_t kRecord = kFrameRecordSize;
// Bytes already looked at are dropped once this many have gathered.
constexpr uint64_t kDropAfter = 256 * 1024;

bool AllZero(const uint8_t* data, size_t size) {
  for (size_t i = 0; i < size; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

int64_t Signed(uint64_t v) { return static_cast<int64_t>(v); }

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
}

std::vector<TrackSeen> RecordStream::tracks_seen() const { return seen_; }

bool RecordStream::Feed(const uint8_t* data, size_t size) {
  NoteZeros(data, size);
  buffer_.insert(buffer_.end(), data, data + size);
  return Process();
}

bool RecordStream::Finish() {
  SettleOffsets();
  // A record the end of the disc cut off (a read offset moves the last one past it)
  // still held its place: it is shown as damaged rather than dropped.
  const uint64_t end = position();
  if (in_run_ && end > next_ && end - next_ >= static_cast<uint64_t>(kRecordHeaderSize) &&
      IsRecordHeader(&buffer_[next_ - base_])) {
    in_run_ = false;
    return Conceal(1);
  }
  return true;
}

bool RecordStream::Process() {
  const uint64_t end = position();
  for (;;) {
    if (in_run_) {
      if (end - next_ < kRecord) break;
      const uint8_t* record = &buffer_[next_ - base_];
      if (IsRecordHeader(record)) {
        if (!sink_->Record(record)) return false;
        ++chapters_.back().records;
        next_ += kRecord;
        continue;
      }
      in_run_ = false;
      lost_ = next_;
      scan_ = next_ + 1;
    }
    const uint64_t found = NextHeader(scan_);
    if (found == kNone) {
      if (end >= kRecordHeaderSize) scan_ = std::max(scan_, end - kRecordHeaderSize + 1);
      break;
    }
    if (!StartRun(found)) return false;
  }
  const uint64_t keep_from = std::min(in_run_ ? next_ : scan_, end);
  if (keep_from - base_ >= kDropAfter) {
    buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<ptrdiff_t>(keep_from - base_));
    base_ = keep_from;
  }
  return true;
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

bool RecordStream::StartRun(uint64_t at) {
  bool same_track = false;
  if (!chapters_.empty()) {
    const uint64_t nominal = at >= static_cast<uint64_t>(std::max<int64_t>(shift_, 0))
                                 ? static_cast<uint64_t>(Signed(at) - shift_)
                                 : 0;
    same_track = tracks_[TrackIndexAt(nominal)].number == chapters_.back().track;
  }
  if (same_track) {
    // Records of this track were lost between: as many as fit the gap, rounded, so
    // a header a few bytes off its place (a drive that slipped) costs none.
    if (!Conceal((at - lost_ + kRecord / 2) / kRecord)) return false;
  } else if (!OpenChapter(at)) {
    return false;
  }
  in_run_ = true;
  next_ = at;
  return true;
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

bool RecordStream::OpenChapter(uint64_t at) {
  size_t t = 0;
  if (!have_shift_) {
    // The disc's first record tells its offset: it belongs to the track it is in, or,
    // moved back past its track's start, to the next one; whichever puts it nearest
    // a known lead-in.
    const size_t r = TrackIndexAt(at);
    int64_t best = 0;
    for (size_t c = r; c < std::min(r + 2, tracks_.size()); ++c) {
      uint64_t lead_in = 0;
      int64_t offset = 0;
      MeasureOffset(Signed(at) - Signed(tracks_[c].start), 0, &lead_in, &offset);
      if (c == r || std::llabs(offset) < std::llabs(best)) {
        best = offset;
        t = c;
      }
    }
    shift_ = best;
    have_shift_ = true;
  } else {
    t = TrackIndexAt(Signed(at) >= shift_ ? static_cast<uint64_t>(Signed(at) - shift_) : 0);
  }
  ChapterReport c;
  c.track = tracks_.empty() ? 1 : tracks_[t].number;
  c.first_record = at;
  if (!tracks_.empty()) c.into_track = Signed(at) - Signed(tracks_[t].start);
  MeasureOffset(c.into_track, 0, &c.lead_in, &c.offset_bytes);
  if (t < seen_.size()) seen_[t].has_records = true;
  chapters_.push_back(c);
  return sink_->BeginChapter(c.track);
}

void RecordStream::SettleOffsets() {
  // A drive's offset moves every track alike, while lead-ins differ from track to
  // track (a retail first track before tracks of this program): each chapter takes
  // the lead-in that puts it nearest the offset most chapters show.
  if (chapters_.empty()) return;
  std::vector<int64_t> offsets;
  for (const ChapterReport& c : chapters_) offsets.push_back(c.offset_bytes);
  std::nth_element(offsets.begin(), offsets.begin() + offsets.size() / 2, offsets.end());
  const int64_t median = offsets[offsets.size() / 2];
  for (ChapterReport& c : chapters_)
    MeasureOffset(c.into_track, median, &c.lead_in, &c.offset_bytes);
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
