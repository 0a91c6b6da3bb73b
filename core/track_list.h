// The break-frame list's two text forms: one number per line in the dialog,
// ";"-separated in the script string.
#pragma once

#include "core/instance_state.h"

namespace trackloom {

// Replaces the list (entries up to the terminator) with the numbers found in text.
// Saturating unsigned 32-bit reading, an optional sign, at most 60 numbers, zeros
// dropped, sorted as signed values with duplicates kept.
void ParseTrackList(InstanceState& state, const char* text);

// Writes the list as decimal numbers joined by separator into out, which must hold
// kTrackListTextCapacity bytes. An empty list gives an empty string.
void FormatTrackList(const InstanceState& state, char* out, const char* separator);

}  // namespace trackloom
