// The render cycle: the three callbacks the editor calls around and during a render,
// and the progress picture the filter shows while it runs.
//
// The encode is running exactly while the instance's output track is open. Every
// failure the user must see goes through Fail(), called last, with no object alive
// that would need cleaning up: the editor's raise-error service throws.
#include <cstring>

#include "core/frame_encoder.h"
#include "core/track_writer.h"
#include "core/wave_file.h"
#include "host/filter_module.h"

namespace trackloom {
namespace {

constexpr int32_t kRequiredDepth = 32;

// Per thread, as the editor runs one render on one thread.
thread_local RenderFailure g_last_failure = RenderFailure::kNone;

// Recorded before the message is raised: the editor's raise-error service throws.
int Fail(HostServices* services, RenderFailure failure) {
  g_last_failure = failure;
  if (services != nullptr && services->raise_error != nullptr)
    services->raise_error(RenderFailureMessage(failure));
  return 1;
}

// A black picture: every picture nibble 0, every audio slot silent.
void ClearFrameBlock(InstanceState& state) {
  std::memset(state.frame_block, 0, sizeof state.frame_block);
  for (int i = kAudioSlotOffset; i < kFrameBlockSize; i += kGroupSize)
    state.frame_block[i] = kSilence;
}

// Output frame 1 while idle: opens the sound file (if any) and the first track, and
// writes the start record. Returns 0, or 1 once the failure has been reported.
int StartEncode(InstanceState& state, const HostFrameState& frame, HostServices* services) {
  if (frame.microseconds_per_frame != kRequiredMicrosecondsPerFrame) {
    return Fail(services, RenderFailure::kFrameRate);
  }
  // A sound file left open by an earlier failed start or break would refuse the
  // new open (the file is held exclusively) or, with the sound turned off since,
  // would feed stale samples into the new tracks.
  if (state.audio_source != nullptr) CloseAndFree(state.audio_source);
  if (state.audio_path[0] != '\0') {
    state.audio_source = WaveFile::OpenForRead(state.audio_path);
    if (state.audio_source == nullptr) return Fail(services, RenderFailure::kOpenSound);
    // A refused file stays open until FilterEnd, which closes it.
    if (!state.audio_source->CheckHeader(kSoundSampleRate, kSoundBitsPerSample, kSoundChannels)) {
      return Fail(services, RenderFailure::kSoundFormat);
    }
  }
  state.track_counter = 0;
  if (!OpenNextTrack(state)) return Fail(services, RenderFailure::kCreateTrack);
  // The first record comes before any picture: a black one with silent slots (the
  // sound file, if any, fills them with its first chunk). The frame block may still
  // hold zero slots, a full-scale click, or the previous encode's last picture and
  // sound. A failure here is ignored as the write of frame 1 follows at once and
  // reports its own.
  ClearFrameBlock(state);
  WriteFrameRecord(state);
  return 0;
}

// The break frame of the open track, or 0 when the list holds no more entries.
int32_t CurrentBreakFrame(const InstanceState& state) {
  const int32_t index = state.track_counter - 1;
  if (index < 0 || index > kMaxBreakFrames) return 0;
  return state.track_list[index];
}

}  // namespace

const char* RenderFailureMessage(RenderFailure failure) {
  switch (failure) {
    case RenderFailure::kNone:
      return "";
    case RenderFailure::kWidth:
      return "Width must be 144";
    case RenderFailure::kHeight:
      return "Height must be 80";
    case RenderFailure::kDepth:
      return "Depth must be 32-bit";
    case RenderFailure::kDestinationDepth:
      return "Depth of dest must be 32-bit";
    case RenderFailure::kNoOutputDirectory:
      return "No output directory specified";
    case RenderFailure::kFrameRate:
      return "Must convert to 18 fps";
    case RenderFailure::kOpenSound:
      return "Failed to open audio file";
    case RenderFailure::kSoundFormat:
      return "Audio file must be WAV, 17640 KHz, 8-bit Stereo";
    case RenderFailure::kCreateTrack:
      return "Failed to create output file";
  }
  return "";
}

RenderFailure LastRenderFailure() { return g_last_failure; }

void FillPreview(HostBitmap& bitmap, uint32_t colour, int32_t marker_row) {
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.data == nullptr) return;
  auto* bottom = static_cast<uint8_t*>(bitmap.data);
  for (int32_t y = 0; y < bitmap.height; ++y) {
    const uint32_t pixel = y == marker_row ? kPreviewWhite : colour;
    uint8_t* row = bottom + static_cast<ptrdiff_t>(y) * bitmap.pitch;
    for (int32_t x = 0; x < bitmap.width; ++x) std::memcpy(row + 4 * x, &pixel, 4);
  }
}

int TRACKLOOM_CDECL FilterStart(HostContext* context, HostServices* services) {
  g_last_failure = RenderFailure::kNone;
  const HostBitmap& source = *context->source;
  if (source.width != kPictureWidth) return Fail(services, RenderFailure::kWidth);
  if (source.height != kPictureHeight) return Fail(services, RenderFailure::kHeight);
  if (source.depth != kRequiredDepth) return Fail(services, RenderFailure::kDepth);
  if (context->destination->depth != kRequiredDepth) {
    return Fail(services, RenderFailure::kDestinationDepth);
  }
  InstanceState& state = *context->instance;
  if (state.output_directory[0] == '\0') return Fail(services, RenderFailure::kNoOutputDirectory);
  BuildNibbleTable(state);
  return 0;
}

int TRACKLOOM_CDECL FilterRun(HostContext* context, HostServices* services) {
  InstanceState& state = *context->instance;
  const HostFrameState& frame = *context->frame_state;
  HostBitmap& destination = *context->destination;

  if (state.output_track == nullptr && frame.output_frame == 1) {
    if (StartEncode(state, frame, services) != 0) return 1;
  }
  if (state.output_track == nullptr) {
    FillPreview(destination, kPreviewBlack, kNoMarkerRow);
    return 0;
  }

  // At most one break per frame: when several break frames were passed at once,
  // the following frames each start one more track until the list catches up.
  const int32_t break_frame = CurrentBreakFrame(state);
  if (break_frame != 0 && frame.source_frame >= break_frame) {
    // A track the system would not let us finish whole ends the encode as a failed
    // write does: no message of its own, the reason in WaveFile::LastError().
    if (!FinishTrack(state)) return 1;
    // The finished tracks are complete files; the encode ends here.
    if (!OpenNextTrack(state)) return Fail(services, RenderFailure::kCreateTrack);
  }

  const HostBitmap& source = *context->source;
  EncodeFrame(SourcePicture{static_cast<const uint8_t*>(source.data), source.height, source.pitch},
              state);
  FillPreview(destination, kPreviewRed, frame.output_frame % kMarkerPeriod);
  return WriteFrameRecord(state) ? 0 : 1;
}

int TRACKLOOM_CDECL FilterEnd(HostContext* context, HostServices*) {
  InstanceState& state = *context->instance;
  bool finished = true;
  if (state.output_track != nullptr) {
    FillPreview(*context->destination, kPreviewBlack, kNoMarkerRow);
    finished = FinishTrack(state);
  }
  // Only read from: how its close went does not matter.
  if (state.audio_source != nullptr) CloseAndFree(state.audio_source);
  // The last track may not be whole: a failure without a message, the reason in
  // WaveFile::LastError().
  return finished ? 0 : 1;
}

}  // namespace trackloom
