// Feeds arbitrary bytes to the track reader as a whole track file, strict and
// lenient, and decodes every record it reports. The reader must never read outside
// the bytes given, and what it reports must lie inside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "cli/tracks/track_reader.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trackloom::cli;
  MemorySource source(data, size);
  std::vector<uint8_t> rgb(kRgbPictureSize);
  std::vector<uint8_t> sound(1960);
  for (const bool lenient : {false, true}) {
    InspectOptions options;
    options.lenient = lenient;
    const TrackReport report = InspectTrack(source, options);
    Check(report.file_length == size);
    Check(!report.read_failed);
    Check(report.problems.size() <= kMaxListedProblems);
    Check(report.problems.size() <= report.problem_count);
    Check(report.valid() == (report.problem_count == 0));
    for (const TrackProblem& p : report.problems) Check(p.offset <= size);
    if (report.record_count > 0) {
      Check(report.first_record + report.record_count * 19600 <= size);
      Check(report.records_with_sound <= report.record_count);
      Check(report.bad_header_records <= report.record_count);
    }
    // Decode the records straight from the caller's buffer, as the decoder reads them.
    for (uint64_t k = 0; k < report.record_count; ++k) {
      const uint8_t* record = data + report.first_record + k * 19600;
      DecodeFramePicture(record + 400, rgb.data());
      ExtractRecordSound(record, sound.data());
    }
  }
  const uint64_t found = FindRecordHeader(source, 0);
  Check(found == size || found + 400 <= size);
  return 0;
}
