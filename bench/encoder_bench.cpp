// Frames per second of the encoder and the record writer, measured against the
// floor any encoder must pay: reading the 46080-byte picture and writing the
// 19200-byte block. After the runs it prints how far each one is above the floor.
//
//   build/native/bench/encoder_bench [--benchmark_filter=...] [--benchmark_min_time=...]

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/frame_encoder.h"
#include "core/instance_state.h"
#include "core/track_format.h"
#include "core/track_writer.h"
#include "core/wave_file.h"

namespace trackloom {
namespace {

constexpr int kPictureBytes = kPictureWidth * kPictureHeight * 4;  // 46080
constexpr int kPitch = kPictureWidth * 4;

// A random picture, stored bottom-up with a tight pitch as the editor delivers it.
struct BenchPicture {
  std::vector<uint8_t> bytes = std::vector<uint8_t>(kPictureBytes);
  BenchPicture() {
    std::mt19937 random(2024);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
  }
  SourcePicture source() const { return SourcePicture{bytes.data(), kPictureHeight, kPitch}; }
};

std::unique_ptr<InstanceState> MakeState() {
  auto state = std::make_unique<InstanceState>();
  BuildNibbleTable(*state);
  return state;
}

// Rates divide by CPU time, which another process on the machine disturbs less than
// wall time.
void SetFrameRate(benchmark::State& run) {
  run.counters["frames/s"] =
      benchmark::Counter(static_cast<double>(run.iterations()), benchmark::Counter::kIsRate);
}

// The first formulation, kept for comparison: each nibble found through the
// component lists (one pixel read per component, one table lookup per nibble) and
// each group assembled in a small array before packing.
struct ComponentSource {
  uint8_t column;  // within the group
  uint8_t shift;   // of the component in the pixel value: red 16, green 8, blue 0
};
constexpr ComponentSource kFirstLineComponents[18] = {
    {0, 16}, {1, 8}, {1, 0}, {2, 16}, {3, 8}, {3, 0}, {4, 16},  {5, 8},  {5, 0},
    {6, 16}, {7, 8}, {7, 0}, {8, 16}, {9, 8}, {9, 0}, {10, 16}, {11, 8}, {11, 0},
};
constexpr ComponentSource kSecondLineComponents[18] = {
    {0, 8}, {0, 0}, {1, 16}, {2, 8}, {2, 0}, {3, 16}, {4, 8},  {4, 0},  {5, 16},
    {6, 8}, {6, 0}, {7, 16}, {8, 8}, {8, 0}, {9, 16}, {10, 8}, {10, 0}, {11, 16},
};

void EncodeFrameByComponentLists(const SourcePicture& source, InstanceState& state) {
  uint8_t* out = state.frame_block;
  for (int line = 0; line < 2 * kPictureHeight; ++line) {
    const uint8_t* row = source.pixels + (source.height - 1 - line / 2) * source.pitch;
    const ComponentSource* components =
        line % 2 == 0 ? kFirstLineComponents : kSecondLineComponents;
    for (int group = 0; group < 12; ++group) {
      uint8_t nibbles[18];
      for (int n = 0; n < 18; ++n) {
        uint32_t pixel;
        std::memcpy(&pixel, row + 4 * (12 * group + components[n].column), sizeof pixel);
        nibbles[n] = state.nibble_table[(pixel >> components[n].shift) & 0xFF];
      }
      for (int k = 0; k < kAudioSlotOffset; ++k)
        out[k] = PackNibblesLowFirst(nibbles[2 * k], nibbles[2 * k + 1]);
      out[kAudioSlotOffset] = kSilence;
      out += kGroupSize;
    }
  }
}

void EncodeFrameByComponentListsBench(benchmark::State& run) {
  const BenchPicture picture;
  auto state = MakeState();
  const SourcePicture source = picture.source();
  // Comparing speeds only means something if both give the same bytes.
  EncodeFrame(source, *state);
  const std::vector<uint8_t> expected(state->frame_block, state->frame_block + kFrameBlockSize);
  EncodeFrameByComponentLists(source, *state);
  if (std::memcmp(expected.data(), state->frame_block, kFrameBlockSize) != 0) {
    run.SkipWithError("the component-list formulation disagrees with EncodeFrame");
    return;
  }
  for (auto _ : run) {
    EncodeFrameByComponentLists(source, *state);
    benchmark::DoNotOptimize(state->frame_block);
    benchmark::ClobberMemory();
  }
  SetFrameRate(run);
}
BENCHMARK(EncodeFrameByComponentListsBench)->Name("EncodeFrame/component-lists");

// EncodeFrame computes the standard table's values with vector instructions where
// the processor has them (x86-64 with SSSE3) and looks every component up in the
// record's table otherwise. A record holding any other table takes the lookup
// form, which measures that form on this machine (the bytes differ in one entry).
void EncodeFrameBench(benchmark::State& run, bool force_table_lookups) {
  const BenchPicture picture;
  auto state = MakeState();
  if (force_table_lookups) state->nibble_table[255] = 14;
  const SourcePicture source = picture.source();
  for (auto _ : run) {
    EncodeFrame(source, *state);
    benchmark::DoNotOptimize(state->frame_block);
    benchmark::ClobberMemory();
  }
  SetFrameRate(run);
}
BENCHMARK_CAPTURE(EncodeFrameBench, standard, false)->Name("EncodeFrame");
BENCHMARK_CAPTURE(EncodeFrameBench, lookups, true)->Name("EncodeFrame/table-lookups");

// The floor: every picture byte read once (46080) and every block byte written
// once (19200), with nothing computed in between.
void MemoryFloorBench(benchmark::State& run) {
  const BenchPicture picture;
  auto state = MakeState();
  constexpr size_t kWritten = kFrameBlockSize;
  constexpr size_t kReadOnly = kPictureBytes - kWritten;
  for (auto _ : run) {
    std::memcpy(state->frame_block, picture.bytes.data(), kWritten);
    uint64_t sum = 0;
    for (size_t i = 0; i < kReadOnly; i += 8) {
      uint64_t word;
      std::memcpy(&word, picture.bytes.data() + kWritten + i, 8);
      sum |= word;
    }
    benchmark::DoNotOptimize(sum);
    benchmark::DoNotOptimize(state->frame_block);
    benchmark::ClobberMemory();
  }
  SetFrameRate(run);
}
BENCHMARK(MemoryFloorBench)->Name("MemoryFloor");

// One record per iteration to /dev/null: the writer's own cost and a system call.
void WriteFrameRecordNullBench(benchmark::State& run) {
  auto state = MakeState();
  state->output_track = WaveFile::CreateForWrite("/dev/null");
  if (state->output_track == nullptr) {
    run.SkipWithError("cannot open /dev/null");
    return;
  }
  for (auto _ : run) {
    if (!WriteFrameRecord(*state)) {
      run.SkipWithError("WriteFrameRecord failed");
      break;
    }
  }
  CloseAndFree(state->output_track);
  SetFrameRate(run);
}
BENCHMARK(WriteFrameRecordNullBench)->Name("WriteFrameRecord/devnull");

// A real track file in memory-backed storage. Tracks are restarted every 2000
// records (39 MB) so the run does not fill /dev/shm; the restart is not timed.
void WriteFrameRecordTmpfsBench(benchmark::State& run) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::path("/dev/shm") / ("trackloom-bench-" + std::to_string(::getpid()));
  std::error_code error;
  fs::create_directories(dir, error);
  auto state = MakeState();
  std::snprintf(state->output_directory, kPathCapacity, "%s", dir.c_str());
  if (error || !OpenNextTrack(*state)) {
    run.SkipWithError("cannot create a track in /dev/shm");
    fs::remove_all(dir, error);
    return;
  }
  constexpr int kRecordsPerTrack = 2000;
  int records = 0;
  for (auto _ : run) {
    if (!WriteFrameRecord(*state)) {
      run.SkipWithError("WriteFrameRecord failed");
      break;
    }
    if (++records == kRecordsPerTrack) {
      run.PauseTiming();
      FinishTrack(*state);
      state->track_counter = 0;
      const bool reopened = OpenNextTrack(*state);
      records = 0;
      run.ResumeTiming();
      if (!reopened) {
        run.SkipWithError("cannot reopen the track");
        break;
      }
    }
  }
  if (state->output_track != nullptr) FinishTrack(*state);
  fs::remove_all(dir, error);
  SetFrameRate(run);
}
BENCHMARK(WriteFrameRecordTmpfsBench)->Name("WriteFrameRecord/tmpfs");

// What the render cycle does for each frame: encode, then append the record.
void EncodeAndWriteBench(benchmark::State& run) {
  const BenchPicture picture;
  auto state = MakeState();
  const SourcePicture source = picture.source();
  state->output_track = WaveFile::CreateForWrite("/dev/null");
  if (state->output_track == nullptr) {
    run.SkipWithError("cannot open /dev/null");
    return;
  }
  for (auto _ : run) {
    EncodeFrame(source, *state);
    if (!WriteFrameRecord(*state)) {
      run.SkipWithError("WriteFrameRecord failed");
      break;
    }
  }
  CloseAndFree(state->output_track);
  SetFrameRate(run);
}
BENCHMARK(EncodeAndWriteBench)->Name("EncodeFrame+WriteFrameRecord/devnull");

// Google Benchmark 1.8 replaced a run's error flag with a skip state (an error is one
// kind of skip); either way a run that did not complete has no time worth comparing.
template <typename Report>
bool RunDidNotComplete(const Report& run) {
  if constexpr (requires { run.skipped; }) {
    return run.skipped != decltype(run.skipped){};  // the zero state is "not skipped"
  } else {
    return run.error_occurred;
  }
}

// Keeps the console output and remembers the CPU time per frame of each run.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // Colour only on a terminal, so piped output stays plain text.
  RatioReporter() : ConsoleReporter(isatty(STDOUT_FILENO) ? OO_Defaults : OO_Tabular) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (RunDidNotComplete(r) || r.run_type != Run::RT_Iteration || r.iterations == 0) continue;
      seconds_per_frame_[r.benchmark_name()] =
          r.cpu_accumulated_time / static_cast<double>(r.iterations);
    }
  }

  void PrintRatios() const {
    const auto floor = seconds_per_frame_.find("MemoryFloor");
    if (floor == seconds_per_frame_.end()) return;
    std::printf("\nfloor (46080 bytes read, 19200 written): %.0f frames/s, %.2f us per frame\n",
                1.0 / floor->second, floor->second * 1e6);
    for (const auto& [name, seconds] : seconds_per_frame_) {
      if (name == floor->first) continue;
      std::printf("%-40s %10.0f frames/s  %8.2f us/frame  %6.1f x floor\n", name.c_str(),
                  1.0 / seconds, seconds * 1e6, seconds / floor->second);
    }
  }

 private:
  std::map<std::string, double> seconds_per_frame_;
};

}  // namespace
}  // namespace trackloom

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  trackloom::RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatios();
  benchmark::Shutdown();
  return 0;
}
