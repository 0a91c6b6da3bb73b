// The command's tracks room on its own: track files written and finished.
#include <gtest/gtest.h>

#include <vector>

#include "cli/tracks/track_files.h"
#include "tests/support/temp_dir.h"

namespace trackloom::cli {
namespace {

using trackloom::testing::MakeWav;
using trackloom::testing::TempDir;
using trackloom::testing::WriteFileBytes;

// A track whose finish failed keeps size fields that do not match the file, and the
// encode's failure message must not call it complete.
TEST(CliUnits, WrittenTracksTellFinishedFromUnfinished) {
  TempDir dir;
  const TrackFileSnapshot before = TrackFileSnapshot::Take(dir.path());
  const std::vector<uint8_t> records(2 * kFrameRecordSize + kLeadInSize, 0x80);
  std::vector<uint8_t> unpatched = MakeWav(44100, 16, 2, records);
  unpatched[40] = unpatched[41] = unpatched[42] = unpatched[43] = 0;
  std::vector<uint8_t> grown = MakeWav(44100, 16, 2, records);
  grown.push_back(0);  // a write after the patch
  const std::vector<std::vector<uint8_t>> files = {MakeWav(44100, 16, 2, records), unpatched,
                                                   grown};
  for (size_t i = 0; i < files.size(); ++i)
    WriteFileBytes(dir.File(TrackFileName(static_cast<int>(i) + 1)), files[i]);
  std::vector<bool> finished;
  for (const TrackFileInfo& t : before.WrittenSince(dir.path())) finished.push_back(t.finished());
  EXPECT_EQ(finished, (std::vector<bool>{true, false, false}));
}

}  // namespace
}  // namespace trackloom::cli
