// Shared pieces of the scenario tests, which drive the filter module through the
// replacement editor exactly as the real editor would: linked into the test program
// natively, loaded from the built module file on Windows.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/instance_state.h"
#include "runner/editor.h"

#include "tests/support/temp_dir.h"
#include "tests/support/test_media.h"

namespace trackloom::scenario {

// The module under test, registered with editor.
std::unique_ptr<runner::LoadedModule> OpenModule(runner::Editor& editor);
// The built module file (trackloom.so / trackloom.vdf), in the platform's own form.
std::string ModuleFilePath();
// True when OpenModule() loads the module file rather than linking it in.
bool ModuleIsLoadedFromFile();

inline InstanceState& State(runner::FilterInstance& filter) {
  return *static_cast<InstanceState*>(filter.data());
}

// Frame i's picture: different in every frame and without symmetry, so a picture
// delivered upside down, mirrored or from the wrong frame gives other bytes.
void PaintFrame(int64_t index, uint32_t* top_down_pixels);

// The frame block EncodeFrame makes of PaintFrame(index), audio slots 0x80.
std::vector<uint8_t> ExpectedBlock(int64_t index);

// A frame source of PaintFrame pictures, 144 x 80 at 18 frames per second, output
// frames 0..count-1 with the given source frame numbers (default: the same numbers).
std::unique_ptr<runner::PaintedFrameSource> Frames(int64_t count,
                                                   std::vector<int32_t> source_numbers = {});

// A 17640 Hz 8-bit stereo sound file's samples: a ramp that never repeats within
// a chunk, so a chunk from the wrong place is seen.
std::vector<uint8_t> SoundSamples(size_t count);
// Bytes of chunk k of those samples (1960 bytes), or silence past their end.
std::vector<uint8_t> SoundChunk(const std::vector<uint8_t>& samples, size_t k);

// The record a track must hold: the constant header then the block, with chunk
// (1960 bytes) in all audio slots; without a chunk the header's slots hold silence
// and the block's are as given.
std::vector<uint8_t> ExpectedRecord(std::vector<uint8_t> block, const std::vector<uint8_t>* chunk);
// The start record of every encode: a black picture, its slots silent or carrying chunk.
std::vector<uint8_t> StartRecord(const std::vector<uint8_t>* chunk = nullptr);

// Checks a track file's header, lead-in and size, then each of its records against
// the expected ones, reporting the first differing byte of each.
void ExpectTrack(const std::string& path, const std::vector<std::vector<uint8_t>>& records);

using testing::ListDirectory;

// A settings line for Config: the path and directory doubled as the editor's script
// strings need.
std::string ConfigLine(const std::string& audio, const std::string& directory,
                       const std::string& breaks);

}  // namespace trackloom::scenario
