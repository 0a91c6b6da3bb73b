// The per-instance record: settings, encoder and writer buffers, and the two open
// files of a running encode. The editor owns the memory (a zero-filled block of
// exactly sizeof(InstanceState) bytes); the module never allocates or copies it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/track_format.h"

namespace trackloom {

class WaveFile;

inline constexpr int kPathCapacity = 260;  // 259 characters and a terminator
inline constexpr int kMaxBreakFrames = 60;
// Text forms of the break-frame list fit in this: 60 x 11 characters plus separators.
inline constexpr int kTrackListTextCapacity = 1024;

// Up to 60 ascending break frames, ended by the first 0 entry (entry 60 is always 0).
using TrackList = int32_t[kMaxBreakFrames + 1];
// 8-bit component value to its 4-bit quantised value.
using NibbleTable = uint8_t[256];
using FrameBlock = uint8_t[kFrameBlockSize];
using AudioChunk = uint8_t[kAudioChunkSize];

struct InstanceState {
  char output_directory[kPathCapacity];  // empty: not set
  char audio_path[kPathCapacity];        // empty: no sound
  int32_t track_counter;                 // tracks opened since the encode began
  TrackList track_list;
  NibbleTable nibble_table;
  FrameBlock frame_block;
  AudioChunk audio_chunk;
  WaveFile* output_track;  // non-null exactly while an encode is running
  WaveFile* audio_source;
};

// The editor hands the record over as a raw block of the declared size, so its
// layout is fixed: 22192 bytes with 4-byte pointers, 22200 with 8-byte ones.
static_assert(offsetof(InstanceState, output_directory) == 0);
static_assert(offsetof(InstanceState, audio_path) == 260);
static_assert(offsetof(InstanceState, track_counter) == 520);
static_assert(offsetof(InstanceState, track_list) == 524);
static_assert(offsetof(InstanceState, nibble_table) == 768);
static_assert(offsetof(InstanceState, frame_block) == 1024);
static_assert(offsetof(InstanceState, audio_chunk) == 20224);
static_assert(offsetof(InstanceState, output_track) == 22184);
static_assert(offsetof(InstanceState, audio_source) == 22184 + sizeof(void*));
static_assert(sizeof(InstanceState) == (sizeof(void*) == 4 ? 22192 : 22200));

}  // namespace trackloom
