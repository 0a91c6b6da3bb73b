#include "cli/tracks/disc_time.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/common/duration.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/track_files.h"

namespace trackloom::cli {

double RecordsDiscSeconds(int64_t records) {
  return static_cast<double>(records) * kFrameRecordSize / kTrackByteRate;
}

bool FitsDisc(int64_t records, double limit_seconds) {
  // Both sides are whole numbers of bytes well inside a double's exact range.
  return static_cast<double>(records) * kFrameRecordSize <=
         std::floor(limit_seconds * kTrackByteRate);
}

std::string DiscTimeText(int64_t records) {
  constexpr int64_t kRecordsPerSecond = static_cast<int64_t>(kTrackByteRate) / kFrameRecordSize;
  static_assert(kRecordsPerSecond * kFrameRecordSize == kTrackByteRate);
  return FormatDuration(RecordsDiscSeconds(records), records % kRecordsPerSecond == 0 ? 0 : 1);
}

namespace {
constexpr int64_t kManyRecords = int64_t{1} << 50;  // centuries of video
}  // namespace

DiscTimePlan PlanDiscTime(const std::vector<PlannedInput>& inputs) {
  DiscTimePlan plan;
  for (size_t i = 0; i < inputs.size(); ++i) {
    const PlannedInput& input = inputs[i];
    if (input.records < 0) {
      ++plan.unknown;
      continue;
    }
    // A damaged header can claim any length: the sum stays a number of records.
    plan.records =
        input.records > kManyRecords - plan.records ? kManyRecords : plan.records + input.records;
    int64_t start = 0;
    int number = 0;
    std::vector<int64_t> ends = input.breaks;
    ends.push_back(input.records);
    for (int64_t end : ends) {
      end = std::min(end, input.records);
      if (end <= start) continue;  // a break past the end, or at the same place
      ++number;
      plan.tracks.push_back(end - start);
      if (end - start > plan.longest) {
        plan.longest = end - start;
        plan.longest_input = i;
        plan.longest_track = number;
      }
      start = end;
    }
  }
  return plan;
}

namespace {

// "--break-every 40:00": the longest whole-second stretch of video a disc holds.
std::string BreakEveryHint(double disc_minutes) {
  const double video_seconds = std::floor(disc_minutes * 60 / 2);
  if (video_seconds < 1) return "";
  return " (e.g. --break-every " + FormatDuration(video_seconds) + ")";
}

}  // namespace

std::string DiscTimeRefusal(const DiscTimePlan& plan, const std::vector<PlannedInput>& inputs,
                            double disc_minutes, int far_discs) {
  char minutes[32];
  std::snprintf(minutes, sizeof minutes, "%g", disc_minutes);
  const double limit = disc_minutes * 60;
  if (!FitsDisc(plan.records, limit * far_discs)) {
    const bool one = inputs.size() == 1;
    return (one ? "'" + Printable(inputs.front().name) + "' would take"
                : "the " + std::to_string(inputs.size()) + " inputs would take together") +
           " about " + DiscTimeText(plan.records) + " of disc time by " +
           (one ? "its header" : "their headers") + ", more than " + std::to_string(far_discs) +
           " times what a disc of " + minutes + " minutes holds; " +
           (one ? "cut it shorter first" : "encode fewer inputs at a time") +
           ", or raise --disc-minutes if that much is meant; nothing was written";
  }
  if (!FitsDisc(plan.longest, limit)) {
    const PlannedInput& input = inputs[plan.longest_input];
    return "track " + std::to_string(plan.longest_track) + " of '" + Printable(input.name) +
           "' would take " + DiscTimeText(plan.longest) + " of disc time, more than a " + minutes +
           "-minute disc holds, so it could never be burned: break it with --break-at TIMES or "
           "--break-every DURATION" +
           BreakEveryHint(disc_minutes) + ", or raise --disc-minutes; nothing was written";
  }
  return "";
}

std::vector<double> BreakEveryTimes(double every, double length_seconds, int max_breaks) {
  std::vector<double> times;
  if (!(every > 0)) return times;
  for (int k = 1; static_cast<int>(times.size()) < max_breaks; ++k) {
    const double at = every * k;
    if (length_seconds >= 0 && at >= length_seconds) break;
    times.push_back(at);
  }
  return times;
}

int64_t RecordsInTracks(const std::vector<std::string>& paths) {
  int64_t records = 0;
  for (const std::string& path : paths) {
    struct stat st = {};
    if (stat(path.c_str(), &st) == 0 && st.st_size > kFirstRecordOffset)
      records += (st.st_size - kFirstRecordOffset) / kFrameRecordSize;
  }
  return records;
}

std::string SectorsToMsf(uint64_t sectors) {
  char text[32];
  std::snprintf(text, sizeof text, "%02llu:%02llu:%02llu",
                static_cast<unsigned long long>(sectors / kCdSectorsPerSecond / 60),
                static_cast<unsigned long long>(sectors / kCdSectorsPerSecond % 60),
                static_cast<unsigned long long>(sectors % kCdSectorsPerSecond));
  return text;
}

std::string SectorsToClock(uint64_t sectors) {
  const uint64_t hundredths = sectors * 100 / kCdSectorsPerSecond;
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu.%02llu",
                static_cast<unsigned long long>(hundredths / 6000),
                static_cast<unsigned long long>(hundredths / 100 % 60),
                static_cast<unsigned long long>(hundredths % 100));
  return text;
}

}  // namespace trackloom::cli
