// The records that cross the boundary between the editor and the module, laid out
// byte for byte as the editor lays them out, in both pointer widths. Only the fields
// the module or a replacement editor needs carry names; the rest are placeholders
// that keep the offsets right.
//
// Every callback and both exports use the C calling convention. On 64-bit Windows
// and on Linux there is only one convention, so the macro is empty there.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/instance_state.h"

#if defined(_WIN32) && !defined(_WIN64)
#define TRACKLOOM_CDECL __cdecl
#else
#define TRACKLOOM_CDECL
#endif

namespace trackloom {

struct FilterRecord;
struct HostContext;
struct HostModule;
struct HostServices;

// The editor's parent window for the configuration dialog (an HWND on Windows).
using HostWindow = void*;

// ---- editor services -------------------------------------------------------------

// Registers a copy of record (record_size bytes) for module; null means refused.
using AddFilterFunction = FilterRecord*(TRACKLOOM_CDECL*)(HostModule* module,
                                                          const FilterRecord* record,
                                                          int record_size);
using RemoveFilterFunction = void(TRACKLOOM_CDECL*)(FilterRecord* filter);
// Tells the user why an operation failed. The real editor throws a C++ exception of
// its own compiler's kind from here, so callers reach it with nothing to clean up
// and never count on it returning.
using RaiseErrorFunction = void(TRACKLOOM_CDECL*)(const char* format, ...);

// The editor's function table; entry k sits at k pointers from the start.
struct HostServices {
  AddFilterFunction add_filter;        // [0]
  RemoveFilterFunction remove_filter;  // [1]
  void* reserved2;                     // [2]-[5]: services the module does not use
  void* reserved3;
  void* reserved4;
  void* reserved5;
  RaiseErrorFunction raise_error;  // [6]
};

// ---- module record -----------------------------------------------------------------

// The editor's record of one loaded module file. The editor points the third field of
// its copy of the FilterRecord here; the dialog finds its resources through the handle.
struct HostModule {
  HostModule* next;
  HostModule* prev;
  void* module_handle;  // the OS module handle (HMODULE on Windows)
};

// ---- pictures and frames --------------------------------------------------------

// A picture as the editor hands it over. The first word is the editor's vtable
// pointer, which the module never touches. Rows are stored bottom-up: data is the
// start of the bottom row and each step of pitch bytes goes one row up; a top-down
// buffer can be delivered as data = its last row with a negative pitch.
struct HostBitmap {
  void* vtable;
  void* data;         // the bottom stored row
  uint32_t* palette;  // unused
  int32_t depth;      // bits per pixel
  int32_t width;
  int32_t height;
  ptrdiff_t pitch;  // int32 on 32-bit, int64 on 64-bit, exactly as the editor has it
};

struct HostFrameState {
  int32_t output_frame;            // 0 first
  int32_t microseconds_per_frame;  // of the output; 55556 at 18 frames per second
  int32_t source_frame;
};

// What every callback receives.
struct HostContext {
  FilterRecord* filter;  // the editor's copy of the record
  InstanceState* instance;
  HostBitmap* destination;
  HostBitmap* source;
  void* reserved;
  HostBitmap* previous;     // unused
  uint32_t x1, y1, x2, y2;  // unused
  HostFrameState* frame_state;
};

// ---- script records --------------------------------------------------------------

// One argument of a script call. The value is 8-aligned, as the editor's union holds
// a 64-bit integer and a double. A string is the address of a pointer to its text.
struct ScriptArgument {
  int32_t type;  // the editor's type tag; the signature already fixes each type
  void* owner;   // the editor's interpreter object, unused
  union alignas(8) Value {
    int32_t i;
    char** s;
    int64_t l;
    double d;
  } value;
};

using ScriptFunction = void(TRACKLOOM_CDECL*)(void* interpreter, void* context,
                                              const ScriptArgument* arguments, int count);

struct ScriptFunctionEntry {
  ScriptFunction function;
  const char* name;
  const char* signature;  // result then argument types: "0" none, "i" int, "s" string
};

struct ScriptObject {
  void* lookup;                          // null: no name lookup
  const ScriptFunctionEntry* functions;  // ended by an all-null entry
  const void* sub_objects;               // null
};

// ---- filter record ---------------------------------------------------------------

using FilterInitFunction = int(TRACKLOOM_CDECL*)(HostContext*, HostServices*);
using FilterDeinitFunction = void(TRACKLOOM_CDECL*)(HostContext*, HostServices*);
// Start, run and end: 0 success, 1 failure.
using FilterRunFunction = int(TRACKLOOM_CDECL*)(HostContext*, HostServices*);
// long is 32 bits on Windows, as the editor expects.
using FilterParamsFunction = long(TRACKLOOM_CDECL*)(HostContext*, HostServices*);
// 0 confirmed, 1 cancelled, -1 when no dialog can be shown.
using FilterConfigureFunction = int(TRACKLOOM_CDECL*)(HostContext*, HostServices*,
                                                      HostWindow parent);
// The editor calls the second description slot with an extra int (the buffer
// length); under the C convention the caller removes its arguments, so a function
// of this type serves both slots.
using FilterDescribeFunction = void(TRACKLOOM_CDECL*)(HostContext*, HostServices*, char* buffer);
using FilterScriptStringFunction = bool(TRACKLOOM_CDECL*)(HostContext*, HostServices*, char* buffer,
                                                          int length);
using FilterSerializeFunction = long(TRACKLOOM_CDECL*)(HostContext*, HostServices*, char* buffer,
                                                       int length);
using FilterDeserializeFunction = long(TRACKLOOM_CDECL*)(HostContext*, HostServices*,
                                                         const char* buffer, int length);
using FilterCopyFunction = void(TRACKLOOM_CDECL*)(HostContext*, HostServices*, void* destination);

// The definition of one filter, given to the editor's add-filter service.
struct FilterRecord {
  FilterRecord* next;                        // 1: the editor's
  FilterRecord* prev;                        // 2: the editor's
  HostModule* module;                        // 3: set in the editor's copy
  const char* name;                          // 4
  const char* description;                   // 5
  const char* maker;                         // 6
  void* private_data;                        // 7
  int instance_size;                         // 8: bytes of InstanceState
  FilterInitFunction init;                   // 9
  FilterDeinitFunction deinit;               // 10
  FilterRunFunction run;                     // 11
  FilterParamsFunction params;               // 12
  FilterConfigureFunction configure;         // 13
  FilterDescribeFunction describe;           // 14
  FilterRunFunction start;                   // 15
  FilterRunFunction end;                     // 16
  const ScriptObject* script_object;         // 17
  FilterScriptStringFunction script_string;  // 18
  FilterDescribeFunction describe2;          // 19
  FilterSerializeFunction serialize;         // 20
  FilterDeserializeFunction deserialize;     // 21
  FilterCopyFunction copy;                   // 22
};

// ---- layouts, pinned for both pointer widths -------------------------------------

inline constexpr bool kPointers64 = sizeof(void*) == 8;
static_assert(sizeof(void*) == 4 || sizeof(void*) == 8);
static_assert(sizeof(int) == 4);

static_assert(offsetof(HostServices, add_filter) == 0);
static_assert(offsetof(HostServices, remove_filter) == 1 * sizeof(void*));
static_assert(offsetof(HostServices, raise_error) == 6 * sizeof(void*));

static_assert(offsetof(HostModule, module_handle) == (kPointers64 ? 16 : 8));

static_assert(offsetof(HostBitmap, data) == (kPointers64 ? 8 : 4));
static_assert(offsetof(HostBitmap, palette) == (kPointers64 ? 16 : 8));
static_assert(offsetof(HostBitmap, depth) == (kPointers64 ? 24 : 12));
static_assert(offsetof(HostBitmap, width) == (kPointers64 ? 28 : 16));
static_assert(offsetof(HostBitmap, height) == (kPointers64 ? 32 : 20));
static_assert(offsetof(HostBitmap, pitch) == (kPointers64 ? 40 : 24));
static_assert(sizeof(HostBitmap::pitch) == (kPointers64 ? 8 : 4));
static_assert(sizeof(HostBitmap) == (kPointers64 ? 48 : 28));

static_assert(offsetof(HostFrameState, output_frame) == 0);
static_assert(offsetof(HostFrameState, microseconds_per_frame) == 4);
static_assert(offsetof(HostFrameState, source_frame) == 8);
static_assert(sizeof(HostFrameState) == 12);

static_assert(offsetof(HostContext, filter) == 0);
static_assert(offsetof(HostContext, instance) == (kPointers64 ? 8 : 4));
static_assert(offsetof(HostContext, destination) == (kPointers64 ? 16 : 8));
static_assert(offsetof(HostContext, source) == (kPointers64 ? 24 : 12));
static_assert(offsetof(HostContext, reserved) == (kPointers64 ? 32 : 16));
static_assert(offsetof(HostContext, previous) == (kPointers64 ? 40 : 20));
static_assert(offsetof(HostContext, x1) == (kPointers64 ? 48 : 24));
static_assert(offsetof(HostContext, y2) == (kPointers64 ? 60 : 36));
static_assert(offsetof(HostContext, frame_state) == (kPointers64 ? 64 : 40));

static_assert(offsetof(ScriptArgument, type) == 0);
static_assert(offsetof(ScriptArgument, owner) == (kPointers64 ? 8 : 4));
static_assert(offsetof(ScriptArgument, value) == (kPointers64 ? 16 : 8));
static_assert(sizeof(ScriptArgument) == (kPointers64 ? 24 : 16));

static_assert(sizeof(ScriptFunctionEntry) == 3 * sizeof(void*));
static_assert(sizeof(ScriptObject) == 3 * sizeof(void*));

static_assert(offsetof(FilterRecord, module) == 2 * sizeof(void*));
static_assert(offsetof(FilterRecord, name) == 3 * sizeof(void*));
static_assert(offsetof(FilterRecord, private_data) == 6 * sizeof(void*));
static_assert(offsetof(FilterRecord, instance_size) == 7 * sizeof(void*));
// The int is followed by 4 bytes of padding on 64-bit, so field 9 starts one pointer on.
static_assert(offsetof(FilterRecord, init) == 8 * sizeof(void*));
static_assert(offsetof(FilterRecord, run) == 10 * sizeof(void*));
static_assert(offsetof(FilterRecord, configure) == 12 * sizeof(void*));
static_assert(offsetof(FilterRecord, describe) == 13 * sizeof(void*));
static_assert(offsetof(FilterRecord, start) == 14 * sizeof(void*));
static_assert(offsetof(FilterRecord, end) == 15 * sizeof(void*));
static_assert(offsetof(FilterRecord, script_object) == 16 * sizeof(void*));
static_assert(offsetof(FilterRecord, script_string) == 17 * sizeof(void*));
static_assert(offsetof(FilterRecord, describe2) == 18 * sizeof(void*));
static_assert(offsetof(FilterRecord, copy) == 21 * sizeof(void*));
static_assert(sizeof(FilterRecord) == (kPointers64 ? 176 : 88));

}  // namespace trackloom
