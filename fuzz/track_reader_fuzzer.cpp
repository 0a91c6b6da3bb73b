// Feeds arbitrary bytes to the track reader as a whole track file, strict and
// lenient, and decodes the last record it reports. The reader must never read
// outside the bytes given, and what it reports must lie inside them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

// Outputs of the decoders, kept between inputs: nothing of the input's size is
// allocated per run.
uint8_t rgb[trackloom::cli::kRgbPictureSize];
uint8_t sound[trackloom::kAudioChunkSize];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace trackloom;
  using namespace trackloom::cli;
  MemorySource source(data, size);
  const uint8_t* decoded = nullptr;
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
    if (report.record_count == 0) continue;
    Check(report.first_record + report.record_count * kFrameRecordSize <= size);
    Check(report.records_with_sound <= report.record_count);
    Check(report.bad_header_records <= report.record_count);
    Check(report.level_changes <= report.record_count);
    for (const auto& table : report.levels.level) {
      for (uint8_t level : table) Check(level < levels::kPanelLevels);
    }
    // The decoders read at fixed places of a record whatever its bytes, so the last
    // record (nearest the end of the input) stands for all of them; both readings
    // usually end at the same one.
    const uint8_t* last = data + report.first_record + (report.record_count - 1) * kFrameRecordSize;
    if (last == decoded) continue;
    DecodeRecordPicture(last, rgb);
    ExtractRecordSound(last, sound);
    decoded = last;
  }
  const uint64_t found = FindRecordHeader(source, 0);
  Check(found == size || found + kRecordHeaderSize <= size);
  return 0;
}
