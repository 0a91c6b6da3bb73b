// Opens the numbered track files of an encode, appends frame records to them and
// finishes them with correct size fields.
#pragma once

#include "core/instance_state.h"
#include "core/track_format.h"

namespace trackloom {

#ifdef _WIN32
inline constexpr char kDirectorySeparator = '\\';
#else
inline constexpr char kDirectorySeparator = '/';
#endif

// Builds "<dir><sep>VDN Track NN.wav" into out (kPathCapacity bytes). False when the
// name would not fit.
bool BuildTrackFileName(const char* directory, int32_t track_number, char* out);

// Creates the next numbered track file (track counter + 1), writes its WAV header and
// lead-in and advances the counter. One trailing separator is removed from the stored
// output directory first. False when the file cannot be created, or its header and
// lead-in cannot be written whole (the file is then removed); the counter is unchanged.
bool OpenNextTrack(InstanceState& state);

// Appends one record: the constant header and the frame block as it stands, with the
// next 1960 bytes of sound (or silence at the end of the sound file) in the audio
// slots when a sound file is open. False when a write fails or the record would take
// the track past what its 32-bit size fields can describe (LastError()
// WaveFile::kPastSizeFields).
bool WriteFrameRecord(InstanceState& state);

// Patches the open track's size fields, closes it and clears the output track. A
// track that holds no record is removed instead. False when the size fields could
// not be patched or the close failed, so the track may not be whole (LastError()
// says why); the output track is cleared either way.
bool FinishTrack(InstanceState& state);

}  // namespace trackloom
