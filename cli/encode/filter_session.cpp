#include "cli/encode/filter_session.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <cerrno>
#include <cstring>
#include <fstream>

#include "cli/common/cli_error.h"
#include "core/instance_state.h"
#include "host/filter_module.h"
#include "runner/script_line.h"

namespace trackloom::cli::encode {

FilterSession::FilterSession() {
#ifdef _WIN32
  // The filter is linked into the program, which holds its dialog's template.
  void* const os_handle = GetModuleHandleW(nullptr);
#else
  void* const os_handle = nullptr;
#endif
  module_ = std::make_unique<runner::LoadedModule>(
      editor_, runner::ModuleExports{&VirtualdubFilterModuleInit2, &VirtualdubFilterModuleDeinit},
      os_handle);
  if (module_->init_result() != 0 || module_->filter_count() == 0) {
    throw CliError("the Trackloom filter did not register with the editor");
  }
  instance_ = std::make_unique<runner::FilterInstance>(*module_);
}

void FilterSession::RunSettingsLine(const std::string& line, const std::string& where) {
  try {
    instance_->RunScriptLine(line);
  } catch (const runner::Error& e) {
    throw CliError(where + ": " + e.what());
  }
}

void FilterSession::RunSettingsFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CliError("cannot read the settings file '" + path + "': " + std::strerror(errno));
  RunSettings(in, path);
}

void FilterSession::RunSettings(std::istream& in, const std::string& path) {
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();  // written on Windows
    const size_t first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line.compare(first, 2, "//") == 0) continue;
    RunSettingsLine(line, path + ":" + std::to_string(number));
  }
  if (in.bad()) throw CliError("cannot read the settings file '" + path + "'");
}

void FilterSession::Configure(const FilterSettings& settings) {
  const std::string line = "Config(" + std::to_string(kSettingsVersion) + "," +
                           runner::QuoteScriptString(settings.audio_path) + "," +
                           runner::QuoteScriptString(settings.output_directory) + "," +
                           runner::QuoteScriptString(settings.break_frames) + ")";
  RunSettingsLine(line, "the settings");
}

std::string FilterSession::ScriptString() {
  std::optional<std::string> line = instance_->ScriptString();
  if (!line) throw CliError("the filter gave no script line for its settings");
  return *line;
}

FilterSettings FilterSession::Settings() {
  const std::string line = ScriptString();
  try {
    runner::ScriptCall call = runner::ParseScriptLine(line);
    if (call.arguments.size() == 4) {
      return {call.arguments[1].text, call.arguments[2].text, call.arguments[3].text};
    }
  } catch (const runner::Error&) {
    // Reported below with the line itself.
  }
  throw CliError("the filter's settings line cannot be read back: " + line);
}

}  // namespace trackloom::cli::encode

namespace trackloom::cli::encode {

int32_t FilterSession::TracksOpened() {
  return static_cast<const InstanceState*>(instance_->data())->track_counter;
}

}  // namespace trackloom::cli::encode
