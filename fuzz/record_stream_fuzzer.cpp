// Feeds arbitrary bytes to the disc stream's record finder as a disc of a few tracks,
// once whole and once in small pieces: what it finds must not depend on how the
// bytes arrive, every record handed on must start with a record header, and the
// chapters must add up to what was handed on.
//
// Input: a byte of track count (1 to 4), a byte of piece size, two bytes per track of
// its length in units of 64 bytes (the last track takes the rest), then the stream.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cli/tracks/record_stream.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace {

using namespace trackloom;
using namespace trackloom::cli;

void Check(bool condition) {
  if (!condition) std::abort();
}

class CountingSink final : public RecordSink {
 public:
  bool BeginChapter(int track) override {
    chapters.push_back(track);
    return true;
  }
  bool Record(const uint8_t* record) override {
    Check(!chapters.empty());
    if (record != nullptr) Check(IsRecordHeader(record));
    // A checksum of what was handed on, to compare the two feedings by.
    sum = sum * 31 + (record != nullptr ? record[kRecordHeaderSize] + 1u : 0u);
    ++records;
    return true;
  }
  std::vector<int> chapters;
  uint64_t records = 0;
  uint64_t sum = 0;
};

struct Result {
  std::vector<ChapterReport> chapters;
  CountingSink sink;
};

void Run(const std::vector<StreamTrack>& tracks, const uint8_t* data, size_t size, size_t piece,
         Result* out) {
  RecordStream stream(tracks, &out->sink);
  for (size_t at = 0; at < size; at += piece) {
    Check(stream.Feed(data + at, std::min(piece, size - at)));
  }
  Check(stream.Finish());
  out->chapters = stream.chapters();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t count = data[0] % 4 + 1;
  const size_t piece = data[1] + 1u;
  data += 2;
  size -= 2;
  if (size < count * 2) return 0;
  std::vector<StreamTrack> tracks;
  const uint8_t* lengths = data;
  data += count * 2;
  size -= count * 2;
  uint64_t start = 0;
  for (size_t t = 0; t < count; ++t) {
    const uint64_t unit = (lengths[2 * t] | lengths[2 * t + 1] << 8) * uint64_t{64};
    const uint64_t length = t + 1 == count
                                ? (size > start ? size - start : 0)
                                : std::min<uint64_t>(unit, size - std::min<uint64_t>(start, size));
    tracks.push_back(StreamTrack{static_cast<int>(t) + 1, start, length});
    start += length;
  }
  Result whole, pieces;
  Run(tracks, data, size, size == 0 ? 1 : size, &whole);
  Run(tracks, data, size, piece, &pieces);
  Check(whole.sink.records == pieces.sink.records && whole.sink.sum == pieces.sink.sum);
  Check(whole.sink.chapters == pieces.sink.chapters);
  Check(whole.chapters.size() == pieces.chapters.size());
  uint64_t records = 0;
  for (size_t i = 0; i < whole.chapters.size(); ++i) {
    const ChapterReport& c = whole.chapters[i];
    Check(c.records == pieces.chapters[i].records && c.damaged == pieces.chapters[i].damaged);
    Check(c.offset_bytes == pieces.chapters[i].offset_bytes);
    Check(c.first_record < size && c.damaged <= c.records && c.records > 0);
    uint64_t damaged = 0;
    for (const DamagePlace& d : c.damage) {
      Check(d.count > 0 && d.first + d.count <= c.records);
      damaged += d.count;
    }
    Check(damaged == c.damaged);
    records += c.records;
  }
  Check(records == whole.sink.records);
  return 0;
}
