// The module's side of the editor boundary: the render callbacks, the script
// settings, registration, and the two exported entry points. Every function here
// has the C calling convention and is reached through the FilterRecord or the
// exports; none throws.
#pragma once

#include <cstdint>

#include "core/track_format.h"
#include "host/filter_configure.h"
#include "host/host_interface.h"

namespace trackloom {

// ---- render cycle ------------------------------------------------------------------

// Checks the picture format and that an output directory is set; builds the
// quantisation table. Opens no file.
int TRACKLOOM_CDECL FilterStart(HostContext* context, HostServices* services);
// Called once per output frame: starts the encode at output frame 1, splits tracks
// at the break frames, encodes and writes the frame, paints the progress picture.
int TRACKLOOM_CDECL FilterRun(HostContext* context, HostServices* services);
// Finishes the open track and closes the sound file; 1 when the track could not be
// finished whole (no message: WaveFile::LastError() keeps the reason).
int TRACKLOOM_CDECL FilterEnd(HostContext* context, HostServices* services);

inline constexpr uint32_t kPreviewBlack = 0x000000;
inline constexpr uint32_t kPreviewRed = 0xFF0000;
inline constexpr uint32_t kPreviewWhite = 0xFFFFFF;
inline constexpr int32_t kNoMarkerRow = -1;
// The white row climbs one stored row per frame and starts again every 80 frames.
inline constexpr int32_t kMarkerPeriod = 80;
// The frame rate as the editor states it: 1000000 / 18 microseconds, rounded (55556).
inline constexpr int32_t kRequiredMicrosecondsPerFrame =
    (1000000 + kFramesPerSecond / 2) / kFramesPerSecond;

// Each failure the render cycle raises to the editor. The editor is shown only the
// message, whose words are fixed (its users and their scripts know them); a caller
// linked with the module tells the failures apart by this code instead.
enum class RenderFailure {
  kNone,
  kWidth,
  kHeight,
  kDepth,
  kDestinationDepth,
  kNoOutputDirectory,
  kFrameRate,
  kOpenSound,
  kSoundFormat,
  kCreateTrack,
};

// The message the editor is shown for failure; empty for kNone.
const char* RenderFailureMessage(RenderFailure failure);
// The failure the render callbacks last raised on this thread since FilterStart
// began, kept as WaveFile::LastError() keeps the system's reason; kNone if none.
RenderFailure LastRenderFailure();

// Paints every pixel of a 32-bit picture colour, except stored row marker_row
// (0 = bottom), which becomes white. A picture without width or height is left alone.
void FillPreview(HostBitmap& bitmap, uint32_t colour, int32_t marker_row);

// ---- script settings ---------------------------------------------------------------

// Config(version, audio path, output directory, break frames): loads the three
// settings when version is 1, ignores the call otherwise.
void TRACKLOOM_CDECL ConfigScript(void* interpreter, void* context, const ScriptArgument* arguments,
                                  int count);
// Writes the Config line for the current settings into buffer (length bytes),
// truncated and terminated if it does not fit. Always true.
bool TRACKLOOM_CDECL FilterScriptString(HostContext* context, HostServices* services, char* buffer,
                                        int length);

inline constexpr int kSettingsVersion = 1;

// ---- registration ------------------------------------------------------------------

// Flags for the editor: 1, the output picture keeps the size and format it is given.
long TRACKLOOM_CDECL FilterParams(HostContext* context, HostServices* services);
// The filter has no per-instance description: writes an empty string.
void TRACKLOOM_CDECL FilterDescribe(HostContext* context, HostServices* services, char* buffer);

// The editor's interface version this module is written for, and the oldest one it
// still works with.
inline constexpr int kFilterApiVersion = 8;
inline constexpr int kFilterApiCompatibleVersion = 4;

extern const ScriptObject kScriptObject;
extern const FilterRecord kFilterRecord;

}  // namespace trackloom

// The two exports, by their fixed undecorated names.
extern "C" {
int TRACKLOOM_CDECL VirtualdubFilterModuleInit2(trackloom::HostModule* module,
                                                trackloom::HostServices* services, int* api_version,
                                                int* compatible_version);
void TRACKLOOM_CDECL VirtualdubFilterModuleDeinit(trackloom::HostModule* module,
                                                  trackloom::HostServices* services);
}
