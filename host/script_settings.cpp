// The three settings as one script line, both ways:
//   Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250")
// The editor's script language reads a doubled backslash inside a quoted string as
// one, so backslashes in the paths are doubled on the way out; nothing else is
// escaped (paths cannot hold double quotes, the break-frame text holds digits, signs
// and ';').
#include <cstdio>
#include <cstring>

#include "core/track_list.h"
#include "host/filter_module.h"

namespace trackloom {
namespace {

// Twice the path capacity: a full 259-character path of backslashes still fits.
constexpr int kEscapedPathCapacity = 2 * kPathCapacity;

// The stored path up to its terminator, never reading past its 260-byte field.
size_t StoredLength(const char (&field)[kPathCapacity]) {
  const void* end = std::memchr(field, '\0', kPathCapacity);
  return end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - field)
                        : kPathCapacity - 1;
}

void DoubleBackslashes(const char (&field)[kPathCapacity], char (&out)[kEscapedPathCapacity]) {
  const size_t length = StoredLength(field);
  size_t n = 0;
  for (size_t i = 0; i < length; ++i) {
    out[n++] = field[i];
    if (field[i] == '\\') out[n++] = '\\';
  }
  out[n] = '\0';
}

// A path longer than the field holds is cut to its first 259 characters rather
// than running into the neighbouring field.
void CopyPath(char (&field)[kPathCapacity], const char* text) {
  size_t length = 0;
  if (text != nullptr) {
    while (length < kPathCapacity - 1 && text[length] != '\0') ++length;
    std::memcpy(field, text, length);
  }
  field[length] = '\0';
}

const char* StringArgument(const ScriptArgument& argument) {
  return argument.value.s != nullptr ? *argument.value.s : nullptr;
}

}  // namespace

void TRACKLOOM_CDECL ConfigScript(void*, void* context, const ScriptArgument* arguments,
                                  int count) {
  // The "0isss" signature makes the editor pass four arguments; a shorter call from
  // a replacement editor is ignored rather than read past its end.
  if (context == nullptr || arguments == nullptr || count < 4) return;
  if (arguments[0].value.i != kSettingsVersion) return;
  InstanceState& state = *static_cast<HostContext*>(context)->instance;
  CopyPath(state.audio_path, StringArgument(arguments[1]));
  CopyPath(state.output_directory, StringArgument(arguments[2]));
  const char* breaks = StringArgument(arguments[3]);
  ParseTrackList(state, breaks != nullptr ? breaks : "");
}

bool TRACKLOOM_CDECL FilterScriptString(HostContext* context, HostServices*, char* buffer,
                                        int length) {
  if (buffer == nullptr || length <= 0) return true;
  const InstanceState& state = *context->instance;
  char audio[kEscapedPathCapacity];
  char directory[kEscapedPathCapacity];
  char breaks[kTrackListTextCapacity];
  DoubleBackslashes(state.audio_path, audio);
  DoubleBackslashes(state.output_directory, directory);
  FormatTrackList(state, breaks, ";");
  // A buffer too small for the line gets its beginning, terminated in its last byte.
  std::snprintf(buffer, static_cast<size_t>(length), "Config(%d,\"%s\",\"%s\",\"%s\")",
                kSettingsVersion, audio, directory, breaks);
  buffer[length - 1] = '\0';
  return true;
}

}  // namespace trackloom
