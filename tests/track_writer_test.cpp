#include "core/track_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "core/wave_file.h"
#include "tests/support/temp_dir.h"

#ifndef _WIN32
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace trackloom {
namespace {

using testing::FileExists;
using testing::MakeWav;
using testing::ReadFileBytes;
using testing::ReadLe32;
using testing::TempDir;
using testing::WriteFileBytes;

const std::string kSep(1, kDirectorySeparator);

std::string TrackPath(const TempDir& dir, int number) {
  return dir.File(testing::TrackFileName(number));
}

void SetDirectory(InstanceState& state, const std::string& dir) {
  ASSERT_LT(dir.size(), static_cast<size_t>(kPathCapacity));
  std::strcpy(state.output_directory, dir.c_str());
}

// A frame block as the encoder leaves it: picture bytes, then 0x80 in every slot.
void FillBlock(InstanceState& state, uint8_t seed) {
  for (int i = 0; i < kFrameBlockSize; ++i) {
    state.frame_block[i] = i % kGroupSize == kAudioSlotOffset ? kSilence
                                                              : static_cast<uint8_t>(seed + i * 7);
  }
}

// Checks one record of a finished track: the header template's data bytes, the
// expected 1960 slot bytes, and the frame block's data bytes.
void ExpectRecord(const std::vector<uint8_t>& track, int index, const std::vector<uint8_t>& slots,
                  const std::vector<uint8_t>& block) {
  SCOPED_TRACE("record " + std::to_string(index));
  const size_t base = kFirstRecordOffset + static_cast<size_t>(index) * kFrameRecordSize;
  ASSERT_LE(base + kFrameRecordSize, track.size());
  for (int i = 0; i < kFrameRecordSize; ++i) {
    const uint8_t actual = track[base + i];
    if (i % kGroupSize == kAudioSlotOffset) {
      ASSERT_EQ(actual, slots[i / kGroupSize]) << "slot " << i / kGroupSize;
    } else if (i < kRecordHeaderSize) {
      ASSERT_EQ(actual, kRecordHeaderTemplate[i]) << "header byte " << i;
    } else {
      ASSERT_EQ(actual, block[i - kRecordHeaderSize]) << "block byte " << i - kRecordHeaderSize;
    }
  }
}

std::vector<uint8_t> Block(const InstanceState& state) {
  return std::vector<uint8_t>(state.frame_block, state.frame_block + kFrameBlockSize);
}

void ExpectFinishedHeader(const std::vector<uint8_t>& track, int records) {
  const uint32_t length = kFirstRecordOffset + static_cast<uint32_t>(records) * kFrameRecordSize;
  ASSERT_EQ(track.size(), length);
  EXPECT_EQ(ReadLe32(track, 4), length - 8);
  EXPECT_EQ(ReadLe32(track, 40), length - 44);
  EXPECT_EQ(ReadLe32(track, 24), 44100u);
  EXPECT_EQ(ReadLe32(track, 28), 176400u);
  for (int i = kWaveHeaderSize; i < kFirstRecordOffset; ++i) ASSERT_EQ(track[i], 0) << "lead-in " << i;
}

TEST(TrackWriter, WritesSilentRecordsWithTheBlockAsItStands) {
  TempDir dir;
  InstanceState state{};
  SetDirectory(state, dir.path());
  WriteFileBytes(TrackPath(dir, 1), std::vector<uint8_t>(100000, 0xEE));  // overwritten

  ASSERT_TRUE(OpenNextTrack(state));
  EXPECT_EQ(state.track_counter, 1);
  const std::vector<uint8_t> fresh = Block(state);
  ASSERT_TRUE(WriteFrameRecord(state));  // the start record: the fresh, all-zero block
  FillBlock(state, 1);
  const std::vector<uint8_t> first = Block(state);
  ASSERT_TRUE(WriteFrameRecord(state));
  FillBlock(state, 2);
  const std::vector<uint8_t> second = Block(state);
  ASSERT_TRUE(WriteFrameRecord(state));
  FinishTrack(state);
  EXPECT_EQ(state.output_track, nullptr);

  const std::vector<uint8_t> track = ReadFileBytes(TrackPath(dir, 1));
  ExpectFinishedHeader(track, 3);
  const std::vector<uint8_t> silent(kAudioChunkSize, kSilence);
  std::vector<uint8_t> start_slots(kAudioChunkSize, 0x00);  // the fresh block's slots
  std::fill(start_slots.begin(), start_slots.begin() + 40, kSilence);
  ExpectRecord(track, 0, start_slots, fresh);
  ExpectRecord(track, 1, silent, first);
  ExpectRecord(track, 2, silent, second);
}

TEST(TrackWriter, CarriesTheSoundChunkByChunkThenSilence) {
  TempDir dir;
  // Two whole chunks and part of a third: records 0 and 1 carry sound, the rest silence.
  std::vector<uint8_t> sound(2 * kAudioChunkSize + 500);
  for (size_t i = 0; i < sound.size(); ++i) sound[i] = static_cast<uint8_t>(i * 13 + i / 256);
  const std::string sound_path = dir.File("sound.wav");
  WriteFileBytes(sound_path, MakeWav(17640, 8, 2, sound));

  InstanceState state{};
  SetDirectory(state, dir.path());
  state.audio_source = WaveFile::OpenForRead(sound_path.c_str());
  ASSERT_NE(state.audio_source, nullptr);
  ASSERT_TRUE(state.audio_source->CheckHeader(17640, 8, 2));
  ASSERT_TRUE(OpenNextTrack(state));
  std::vector<std::vector<uint8_t>> blocks;
  for (int r = 0; r < 4; ++r) {
    FillBlock(state, static_cast<uint8_t>(r));
    blocks.push_back(Block(state));
    ASSERT_TRUE(WriteFrameRecord(state));
  }
  FinishTrack(state);
  CloseAndFree(state.audio_source);

  const std::vector<uint8_t> track = ReadFileBytes(TrackPath(dir, 1));
  ExpectFinishedHeader(track, 4);
  for (int r = 0; r < 4; ++r) {
    std::vector<uint8_t> slots(kAudioChunkSize, kSilence);
    if (r < 2) slots.assign(sound.begin() + r * kAudioChunkSize, sound.begin() + (r + 1) * kAudioChunkSize);
    ExpectRecord(track, r, slots, blocks[static_cast<size_t>(r)]);
  }
  // The frame block keeps the last record's sound in its slots.
  EXPECT_EQ(state.frame_block[kAudioSlotOffset], kSilence);
}

TEST(TrackWriter, NamesTracksAndTrimsOneTrailingSeparatorPerTrack) {
  TempDir dir;
  struct Case {
    std::string directory;
    std::string stored_after_open;
    bool created;
  };
  const std::string missing = dir.File("missing") + kSep + "deeper";
  const std::string too_long = dir.path() + kSep + std::string(242 - dir.path().size(), 'x');
  ASSERT_EQ(too_long.size(), 243u);
  const Case cases[] = {
      {dir.path() + kSep, dir.path(), true},
      {dir.path(), dir.path(), true},
      {dir.path() + kSep + kSep, dir.path() + kSep, true},
      // The separator comes off before the creation fails, and stays off.
      {missing + kSep, missing, false},
      // 243 characters: the track name cannot fit in 259, so no file is created.
      {too_long, too_long, false},
  };
  for (const Case& c : cases) {
    InstanceState state{};
    SCOPED_TRACE(c.directory);
    SetDirectory(state, c.directory);
    EXPECT_EQ(OpenNextTrack(state), c.created);
    EXPECT_EQ(std::string(state.output_directory), c.stored_after_open);
    EXPECT_EQ(state.track_counter, c.created ? 1 : 0);
    EXPECT_EQ(state.output_track != nullptr, c.created);
    if (state.output_track != nullptr) FinishTrack(state);
  }

  // Two trailing separators: both are gone after the second track.
  InstanceState state{};
  SetDirectory(state, dir.path() + kSep + kSep);
  ASSERT_TRUE(OpenNextTrack(state));
  ASSERT_TRUE(WriteFrameRecord(state));
  FinishTrack(state);
  ASSERT_TRUE(OpenNextTrack(state));
  ASSERT_TRUE(WriteFrameRecord(state));
  FinishTrack(state);
  EXPECT_EQ(std::string(state.output_directory), dir.path());
  EXPECT_TRUE(FileExists(TrackPath(dir, 2)));
}

TEST(TrackWriter, BuildsNumberedNamesThatFit) {
  char name[kPathCapacity];
  const std::string sep = kSep;
  struct Case {
    std::string directory;
    int number;
    std::string expected;  // empty: does not fit
  };
  const std::string longest(242, 'd');
  const Case cases[] = {
      {"D", 1, "D" + sep + "VDN Track 01.wav"},
      {"D", 10, "D" + sep + "VDN Track 10.wav"},
      {"D", 61, "D" + sep + "VDN Track 61.wav"},
      {longest, 61, longest + sep + "VDN Track 61.wav"},
      {longest + "d", 1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.directory.size());
    EXPECT_EQ(BuildTrackFileName(c.directory.c_str(), c.number, name), !c.expected.empty());
    if (!c.expected.empty()) {
      EXPECT_EQ(std::string(name), c.expected);
      EXPECT_EQ(std::strlen(name) <= 259, true);
    }
  }
}

TEST(TrackWriter, RefusesARecordThatWouldPassWhatTheSizeFieldsHold) {
  TempDir dir;
  InstanceState state{};
  SetDirectory(state, dir.path());
  ASSERT_TRUE(OpenNextTrack(state));
  // Grow the track, sparsely, to just below the limit.
  const int64_t last_fit = static_cast<int64_t>(kMaxTrackLength) - kFrameRecordSize;
  ASSERT_TRUE(state.output_track->TruncateTo(last_fit + 1));
  EXPECT_FALSE(WriteFrameRecord(state));
  EXPECT_EQ(WaveFile::LastError(), WaveFile::kPastSizeFields);
  EXPECT_EQ(state.output_track->Position(), last_fit + 1);
  ASSERT_TRUE(state.output_track->TruncateTo(last_fit));
  EXPECT_TRUE(WriteFrameRecord(state));
  EXPECT_FALSE(WriteFrameRecord(state));
  FinishTrack(state);

  std::ifstream in(TrackPath(dir, 1), std::ios::binary);
  std::vector<uint8_t> header(44);
  in.read(reinterpret_cast<char*>(header.data()), 44);
  EXPECT_EQ(ReadLe32(header, 4), 0xFFFFFFFFu - 8);
  EXPECT_EQ(ReadLe32(header, 40), 0xFFFFFFFFu - 44);
}

// A track that cannot be written whole is not left behind: one that ends before its
// first record is removed when finished, on every platform.
TEST(TrackWriter, TrackEndingWithoutARecordIsRemoved) {
  TempDir dir;
  InstanceState state{};
  SetDirectory(state, dir.path());
  for (int records : {0, 1}) {
    ASSERT_TRUE(OpenNextTrack(state));
    for (int r = 0; r < records; ++r) ASSERT_TRUE(WriteFrameRecord(state));
    FinishTrack(state);
    EXPECT_EQ(FileExists(TrackPath(dir, state.track_counter)), records > 0) << records;
  }
}

#ifndef _WIN32
// A full disk while the header and lead-in are written, and names that a planted
// link or special file occupies: the open fails, says why, and leaves nothing behind
// (nor anything changed outside the directory).
TEST(TrackWriter, TrackThatCannotBeCreatedWholeFailsTheOpen) {
  TempDir dir;
  TempDir outside;
  const std::string target = outside.File("precious");
  struct Case {
    const char* name;
    rlim_t size_limit;  // 0: none
    void (*plant)(const std::string& track, const std::string& target);
    int error;
    bool name_left;  // what was planted stays as it was
  };
  const Case cases[] = {
      {"disk full in the header", 30, nullptr, EFBIG, false},
      {"disk full in the lead-in", 1000, nullptr, EFBIG, false},
      {"symbolic link", 0, [](const std::string& t, const std::string& to) { symlink(to.c_str(), t.c_str()); },
       ELOOP, true},
      {"hard link", 0, [](const std::string& t, const std::string& to) { link(to.c_str(), t.c_str()); },
       WaveFile::kNotRegularFile, true},
      // Opened without waiting for a reader, which there is none of.
      {"FIFO", 0, [](const std::string& t, const std::string&) { mkfifo(t.c_str(), 0600); }, ENXIO, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFileBytes(target, {1, 2, 3});
    if (c.plant != nullptr) c.plant(TrackPath(dir, 1), target);
    InstanceState state{};
    SetDirectory(state, dir.path());
    signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    rlimit small = old;
    if (c.size_limit != 0) small.rlim_cur = c.size_limit;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool opened = OpenNextTrack(state);
    setrlimit(RLIMIT_FSIZE, &old);
    signal(SIGXFSZ, SIG_DFL);

    EXPECT_FALSE(opened);
    EXPECT_EQ(WaveFile::LastError(), c.error);
    EXPECT_EQ(state.output_track, nullptr);
    EXPECT_EQ(state.track_counter, 0);
    struct stat info {};
    EXPECT_EQ(lstat(TrackPath(dir, 1).c_str(), &info) == 0, c.name_left);
    EXPECT_EQ(ReadFileBytes(target), (std::vector<uint8_t>{1, 2, 3}));
    unlink(TrackPath(dir, 1).c_str());
  }
}

TEST(TrackWriter, TakesBackARecordWrittenOnlyInPart) {
  TempDir dir;
  InstanceState state{};
  SetDirectory(state, dir.path());
  ASSERT_TRUE(OpenNextTrack(state));
  ASSERT_TRUE(WriteFrameRecord(state));

  // A file-size limit in the middle of the second record stands in for a full disk.
  signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  getrlimit(RLIMIT_FSIZE, &old);
  rlimit small = old;
  small.rlim_cur = kFirstRecordOffset + kFrameRecordSize + 5000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const bool written = WriteFrameRecord(state);
  setrlimit(RLIMIT_FSIZE, &old);
  signal(SIGXFSZ, SIG_DFL);

  EXPECT_FALSE(written);
  FinishTrack(state);
  ExpectFinishedHeader(ReadFileBytes(TrackPath(dir, 1)), 1);
}
#endif

}  // namespace
}  // namespace trackloom
