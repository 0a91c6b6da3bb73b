// Feeds one arbitrary script line through the replacement editor to the filter linked
// into this program, as the editor runs a saved script: the line's reader, the
// matching against the filter's functions, and the filter's Config. Whatever the line
// sets, the filter's own script line must read back to the same settings, unless a
// path holds a double quote: the filter escapes only backslashes (paths on Windows
// cannot hold one), and the command refuses to save such settings.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "host/filter_module.h"
#include "runner/editor.h"
#include "runner/errors.h"

namespace {

using namespace trackloom;

void Check(bool condition) {
  if (!condition) std::abort();
}

// One editor, module and filter instance for all inputs (making them is most of a
// run's time), each input starting from the empty settings of a new instance.
runner::FilterInstance& EmptyInstance(int which) {
  static runner::Editor editor(runner::RaiseErrorMode::kRecordAndThrow);
  static runner::LoadedModule module(
      editor, runner::ModuleExports{&VirtualdubFilterModuleInit2, &VirtualdubFilterModuleDeinit});
  static runner::FilterInstance instances[2] = {runner::FilterInstance(module),
                                                runner::FilterInstance(module)};
  instances[which].RunScriptLine(R"(Config(1,"","",""))");
  return instances[which];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  runner::FilterInstance& instance = EmptyInstance(0);
  try {
    instance.RunScriptLine(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const runner::ScriptError& e) {
    // Refused with a reason, pointing into the line (or just past its end).
    Check(e.column() >= 1 && static_cast<size_t>(e.column()) <= size + 1);
    return 0;
  } catch (const runner::Error&) {
    return 0;  // a function the filter does not have
  }
  const std::optional<std::string> line = instance.ScriptString();
  Check(line.has_value());
  // Config(1,"…","…","…") has six quotes of its own.
  if (std::count(line->begin(), line->end(), '"') != 6) return 0;
  runner::FilterInstance& again = EmptyInstance(1);
  again.RunScriptLine(*line);  // throws (and so aborts) when the line does not read back
  Check(again.ScriptString() == line);
  return 0;
}
