#include "cli/tracks/track_repair.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

bool TrackHeaderFields(const TrackWavFields& w) {
  // Every header field but the two sizes, as a track's header has it.
  return std::memcmp(w.riff_tag, "RIFF", 4) == 0 && std::memcmp(w.wave_tag, "WAVE", 4) == 0 &&
         std::memcmp(w.fmt_tag, "fmt ", 4) == 0 && w.fmt_size == wav::kFormatChunkLength &&
         w.format == wav::kFormatPcm && w.channels == kTrackChannels &&
         w.sample_rate == static_cast<uint32_t>(kTrackSampleRate) &&
         w.byte_rate == static_cast<uint32_t>(kTrackByteRate) &&
         w.block_align == kTrackBlockAlign && w.bits_per_sample == kTrackBitsPerSample &&
         std::memcmp(w.data_tag, "data", 4) == 0;
}

}  // namespace

RepairPlan PlanRepair(const TrackReport& r) {
  RepairPlan plan;
  plan.needed = !r.valid();
  if (!plan.needed) return plan;
  if (r.read_failed) {
    plan.refusal = r.read_error;
  } else if (!r.header_complete || !TrackHeaderFields(r.wav)) {
    plan.refusal = "its WAV header is not a track's";
  } else if (r.first_record != kFirstRecordOffset || r.lead_in_nonzero != 0) {
    plan.refusal = "its lead-in is not a track's";
  } else if (r.bad_header_records != 0) {
    plan.refusal =
        std::to_string(r.bad_header_records) + " of its records do not start with a record header";
  } else if (r.record_count == 0) {
    plan.refusal = "it holds no whole record";
  }
  if (!plan.refusal.empty()) return plan;
  // Both size fields are 32-bit: records past what they can describe are cut too.
  plan.records =
      std::min<uint64_t>(r.record_count, (kMaxTrackLength - kFirstRecordOffset) / kFrameRecordSize);
  plan.length = kFirstRecordOffset + plan.records * kFrameRecordSize;
  plan.cut_bytes = r.file_length - plan.length;
  plan.possible = true;
  return plan;
}

namespace {

// Opens the track for mending, or refuses it as the real repair and a dry run both
// must: a link is not followed, a file with other names (hard links) is not changed
// under them, and a track the filter still holds locked is being written. The
// descriptor, or -1 with the reason in *error.
UniqueFd OpenForRepair(const std::string& path, struct stat* info, std::string* error) {
  UniqueFd fd(OpenDescriptor(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!fd) {
    *error = DescribeWriteError(path, errno);
  } else if (::fstat(fd.get(), info) != 0 || !S_ISREG(info->st_mode) || info->st_nlink > 1) {
    *error = DescribeWriteError(path, kNotRegularFile);
    fd.Reset();
  } else if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
    // The filter holds every track it writes locked.
    *error = errno == EWOULDBLOCK ? "another program is writing it (an encode still running?)"
                                  : DescribeError(errno);
    fd.Reset();
  }
  return fd;
}

}  // namespace

bool CanRepair(const std::string& path, std::string* error) {
  struct stat info = {};
  return OpenForRepair(path, &info, error).valid();
}

bool RepairTrack(const std::string& path, const RepairPlan& plan, std::string* error) {
  struct stat info = {};
  UniqueFd fd = OpenForRepair(path, &info, error);
  if (!fd) return false;
  bool ok = false;
  if (static_cast<uint64_t>(info.st_size) < plan.length) {
    *error = "it changed while it was checked";
  } else {
    uint8_t riff_size[4], data_size[4];
    wav::PutLe32(riff_size, static_cast<uint32_t>(plan.length - wav::kRiffSizeFrom));
    wav::PutLe32(data_size, static_cast<uint32_t>(plan.length - kWaveHeaderSize));
    ok = ::ftruncate(fd.get(), static_cast<off_t>(plan.length)) == 0 &&
         ::pwrite(fd.get(), riff_size, 4, wav::kRiffSizeOffset) == 4 &&
         ::pwrite(fd.get(), data_size, 4, wav::kDataSizeOffset) == 4 && ::fsync(fd.get()) == 0;
    if (!ok) *error = DescribeError(errno);
  }
  if (!fd.Close() && ok) {
    *error = DescribeError(errno);
    ok = false;
  }
  return ok;
}

}  // namespace trackloom::cli
