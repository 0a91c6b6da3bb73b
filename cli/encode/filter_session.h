// The filter, registered with the replacement editor through its two exports (linked
// into this program), and one instance of it: what every subcommand that renders or
// configures starts from.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "runner/editor.h"

namespace trackloom::cli::encode {

// The three settings as the filter holds them, read back from its script string.
struct FilterSettings {
  std::string audio_path;
  std::string output_directory;
  std::string break_frames;  // ";"-separated, as the filter formats its list
};

class FilterSession {
 public:
  // Throws CliError when the filter refuses to register.
  FilterSession();
  FilterSession(const FilterSession&) = delete;
  FilterSession& operator=(const FilterSession&) = delete;

  runner::Editor& editor() { return editor_; }
  runner::FilterInstance& instance() { return *instance_; }

  // Runs each line of a settings file, as the editor runs a script: blank lines and
  // // comments are passed over. Throws CliError naming the file, line and column.
  void RunSettingsFile(const std::string& path);
  // The same for a file already open; path names it in messages.
  void RunSettings(std::istream& in, const std::string& path);
  // Throws CliError when the line does not parse or is not the filter's.
  void RunSettingsLine(const std::string& line, const std::string& where);
  // Sets all three settings through the filter's Config script function.
  void Configure(const FilterSettings& settings);
  // The filter's script line, and the settings it states.
  std::string ScriptString();
  FilterSettings Settings();
  // The number of the last track the filter opened in its latest encode (0: none).
  int32_t TracksOpened();

 private:
  runner::Editor editor_{runner::RaiseErrorMode::kRecordAndThrow};
  std::unique_ptr<runner::LoadedModule> module_;
  std::unique_ptr<runner::FilterInstance> instance_;
};

}  // namespace trackloom::cli::encode
