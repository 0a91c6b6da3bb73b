// The filter record and the two exports through which the editor loads the module.
#include "host/filter_module.h"

namespace trackloom {
namespace {

constexpr ScriptFunctionEntry kScriptFunctions[] = {
    {ConfigScript, "Config", "0isss"},  // no result; int version, three strings
    {nullptr, nullptr, nullptr},
};

// The only module-wide value: the editor's handle for the registered filter, kept
// from registration to withdrawal (null when the editor refused it).
FilterRecord* filter_handle = nullptr;

}  // namespace

long TRACKLOOM_CDECL FilterParams(HostContext*, HostServices*) { return 1; }

void TRACKLOOM_CDECL FilterDescribe(HostContext*, HostServices*, char* buffer) {
  if (buffer != nullptr) buffer[0] = '\0';
}

const ScriptObject kScriptObject = {
    nullptr,           // no name lookup
    kScriptFunctions,  // Config
    nullptr,           // no sub-objects
};

const FilterRecord kFilterRecord = {
    nullptr,                                          // 1 next: the editor's
    nullptr,                                          // 2 prev: the editor's
    nullptr,                                          // 3 module: set in the editor's copy
    "Trackloom",                                      // 4 name
    "Create track files for VideoNow Color players",  // 5 description
    "Mossgrave",                                      // 6 maker
    nullptr,                                          // 7 private data
    static_cast<int>(sizeof(InstanceState)),          // 8 instance size: 22192 / 22200
    nullptr,             // 9 init: the zero-filled block is the initial state
    nullptr,             // 10 deinit
    FilterRun,           // 11 run
    FilterParams,        // 12 params
    FilterConfigure,     // 13 configure
    FilterDescribe,      // 14 description
    FilterStart,         // 15 start
    FilterEnd,           // 16 end
    &kScriptObject,      // 17 script object
    FilterScriptString,  // 18 script string
    FilterDescribe,      // 19 second description slot
    nullptr,             // 20 serialise
    nullptr,             // 21 deserialise
    nullptr,             // 22 copy: an instance shares open files
};

}  // namespace trackloom

using trackloom::filter_handle;

extern "C" int TRACKLOOM_CDECL VirtualdubFilterModuleInit2(trackloom::HostModule* module,
                                                           trackloom::HostServices* services,
                                                           int* api_version,
                                                           int* compatible_version) {
  filter_handle = services->add_filter(module, &trackloom::kFilterRecord,
                                       static_cast<int>(sizeof(trackloom::FilterRecord)));
  if (filter_handle == nullptr) return 1;
  *api_version = trackloom::kFilterApiVersion;
  *compatible_version = trackloom::kFilterApiCompatibleVersion;
  return 0;
}

extern "C" void TRACKLOOM_CDECL VirtualdubFilterModuleDeinit(trackloom::HostModule*,
                                                             trackloom::HostServices* services) {
  // After a refused registration the stored handle is the refusal's null, and that
  // is what the editor gets back. Cleared afterwards so a handle the editor has
  // freed is never passed to it a second time.
  services->remove_filter(filter_handle);
  filter_handle = nullptr;
}
