// Disc time as the encode counts it against a disc's minutes, and the plan of a whole
// run (every input, every track) checked against it before anything is written.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace trackloom::cli {

// Every frame record is 19600 bytes of CD audio, exactly 1/9 s of disc time, so an
// N-minute disc holds exactly N/2 minutes of video. A track's 2048-byte lead-in (under
// 0.012 s, less than one CD sector) is not counted: the player finds records by their
// header and skips it.
double RecordsDiscSeconds(int64_t records);
// True when records fit limit_seconds of disc time, compared in whole bytes: 43200
// records (40:00 of video) fit an 80-minute disc, 43201 do not.
bool FitsDisc(int64_t records, double limit_seconds);
// The disc time of records as the messages and the summary write it: whole seconds
// when it is a whole number of them, tenths otherwise, so a figure just past a
// limit never reads as the limit itself.
std::string DiscTimeText(int64_t records);

// One input of a run as its container describes it.
struct PlannedInput {
  std::string name;
  int64_t records = -1;         // records it gives at 18 fps; -1 when not known
  std::vector<int64_t> breaks;  // records at which its tracks after the first begin
};

struct DiscTimePlan {
  int64_t records = 0;          // of the inputs whose length is known
  int unknown = 0;              // inputs whose length is not known
  std::vector<int64_t> tracks;  // records of each track of the known inputs, in order
  // The longest track: its records, its input and its number within that input.
  int64_t longest = 0;
  size_t longest_input = 0;
  int longest_track = 0;
};

DiscTimePlan PlanDiscTime(const std::vector<PlannedInput>& inputs);

// Why the run cannot make tracks for discs of disc_minutes, in one line naming the
// options that help; empty when it can. far_discs: how many discs' worth of tracks
// is taken for a mistake rather than meant.
std::string DiscTimeRefusal(const DiscTimePlan& plan, const std::vector<PlannedInput>& inputs,
                            double disc_minutes, int far_discs);

// The times a track starts at with --break-every every, up to the input's length
// (seconds): every, 2 x every, ... before the end, at most max_breaks of them.
std::vector<double> BreakEveryTimes(double every, double length_seconds, int max_breaks);

// Records of the tracks an encode wrote, read from the files' sizes.
int64_t RecordsInTracks(const std::vector<std::string>& paths);

}  // namespace trackloom::cli
