// A replacement for the video editor that loads filter modules, as a library: it
// registers a module through its two exports, keeps the editor's copy of each filter
// record, gives every filter instance a zero-filled block of the declared size, runs
// script lines and asks for script strings, and drives start / run per frame / end
// over a frame source with bottom-up pictures.
//
//   runner::Editor editor;
//   auto module = runner::LoadedModule::Load(editor, "plugins/trackloom.vdf");
//   runner::FilterInstance filter(*module);
//   filter.RunScriptLine(R"(Config(1,"","D:\\Tracks","100;250"))");
//   runner::RenderReport report = filter.Render(frames);
//
// Not thread-safe: one editor, its modules and instances belong to one thread. An
// instance must go before its module, and a module before its editor.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/host_interface.h"
#include "runner/errors.h"
#include "runner/frame_source.h"

namespace trackloom::runner {

// What the raise-error service does after recording the message: return to the
// module, or throw FilterError from inside the service, as the real editor does.
enum class RaiseErrorMode { kRecordAndReturn, kRecordAndThrow };

using ModuleInitFunction = int(TRACKLOOM_CDECL*)(HostModule* module, HostServices* services,
                                                 int* api_version, int* compatible_version);
using ModuleDeinitFunction = void(TRACKLOOM_CDECL*)(HostModule* module, HostServices* services);

struct ModuleExports {
  ModuleInitFunction init = nullptr;
  ModuleDeinitFunction deinit = nullptr;
};

// The export names the editor looks up.
inline constexpr const char* kInitExportName = "VirtualdubFilterModuleInit2";
inline constexpr const char* kDeinitExportName = "VirtualdubFilterModuleDeinit";

class Editor {
 public:
  explicit Editor(RaiseErrorMode mode = RaiseErrorMode::kRecordAndThrow);
  ~Editor();
  Editor(const Editor&) = delete;
  Editor& operator=(const Editor&) = delete;

  RaiseErrorMode raise_error_mode() const { return mode_; }
  void set_raise_error_mode(RaiseErrorMode mode) { mode_ = mode; }

  // While set, add-filter refuses every record, as an editor that cannot take it.
  bool refuse_registrations() const { return refuse_registrations_; }
  void set_refuse_registrations(bool refuse) { refuse_registrations_ = refuse; }

  // Every message passed to the raise-error service, oldest first.
  const std::vector<std::string>& raised_errors() const { return raised_errors_; }
  void ClearRaisedErrors() { raised_errors_.clear(); }

  // The function table handed to modules and callbacks.
  HostServices* services() { return &services_; }

 private:
  friend struct ServiceCallbacks;
  HostServices services_{};
  RaiseErrorMode mode_;
  bool refuse_registrations_ = false;
  std::vector<std::string> raised_errors_;
};

// One module file (or a module linked into the program), registered with an editor.
class LoadedModule {
 public:
  // A module whose exports are linked into this program. os_handle is the module
  // handle its module record passes on (where the module finds its resources).
  LoadedModule(Editor& editor, ModuleExports exports, void* os_handle = nullptr);
  // Loads the file (dlopen / LoadLibraryA), finds both exports and registers the
  // module. Throws Error when the file does not load or lacks an export.
  static std::unique_ptr<LoadedModule> Load(Editor& editor, const std::string& path);
  // Withdraws the module if that has not happened yet, then unloads the file.
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  Editor& editor() { return editor_; }
  const std::string& path() const { return path_; }

  // What the initialiser returned (0 success), and the versions it reported; nothing
  // for a version the initialiser left untouched.
  int init_result() const { return init_result_; }
  std::optional<int> api_version() const { return api_version_; }
  std::optional<int> compatible_version() const { return compatible_version_; }

  // The editor's copies of the records the module registered; their addresses are
  // the handles add-filter returned.
  size_t filter_count() const { return filters_.size(); }
  FilterRecord& filter(size_t index = 0);
  // Every record size passed to add-filter, accepted or not.
  const std::vector<int>& offered_record_sizes() const { return offered_sizes_; }

  // The editor's record of this module, which each record copy points at.
  const HostModule& module_record() const { return module_record_; }

  // Calls the module's finaliser (once).
  void Withdraw();
  bool withdrawn() const { return withdrawn_; }
  // The handles the finaliser passed to remove-filter, in order.
  const std::vector<FilterRecord*>& removed_handles() const { return removed_; }

 private:
  friend struct ServiceCallbacks;
  struct Library;
  LoadedModule(Editor& editor, ModuleExports exports, std::unique_ptr<Library> library);
  void Register();

  Editor& editor_;
  ModuleExports exports_;
  std::unique_ptr<Library> library_;
  std::string path_;
  HostModule module_record_{};
  int init_result_ = -1;
  std::optional<int> api_version_;
  std::optional<int> compatible_version_;
  std::vector<std::unique_ptr<FilterRecord>> filters_;
  std::vector<int> offered_sizes_;
  std::vector<FilterRecord*> removed_;
  bool withdrawn_ = false;
};

// The destination picture's description; without a width or height, the source's.
// fill is what every pixel holds before the filter first paints.
struct OutputFormat {
  std::optional<int32_t> width;
  std::optional<int32_t> height;
  int32_t depth = 32;
  uint32_t fill = 0;
};

struct RenderProgress {
  int64_t frames_done = 0;
  int64_t frames_total = -1;  // -1 when the source does not know
};

struct RenderOptions {
  OutputFormat output;
  // Called after every frame; returning false stops the render (end is still called).
  std::function<bool(const RenderProgress&)> on_frame;
};

struct RenderReport {
  bool ok = false;       // start, every run and end returned 0, nothing raised
  bool stopped = false;  // on_frame asked to stop
  int start_result = -1;
  int end_result = -1;
  int64_t frames_run = 0;  // run calls that returned 0
  // The output frame whose run call failed (returned 1 or raised an error).
  std::optional<int32_t> failed_frame;
  std::vector<std::string> errors;  // raised during this render, oldest first
};

// One use of a filter: its zero-filled instance block and the records the editor
// passes with every callback.
class FilterInstance {
 public:
  explicit FilterInstance(LoadedModule& module, size_t filter_index = 0);
  // Ends a render still running, then runs the filter's instance finaliser, if any.
  ~FilterInstance();
  FilterInstance(const FilterInstance&) = delete;
  FilterInstance& operator=(const FilterInstance&) = delete;

  const FilterRecord& filter() const { return *filter_; }
  void* data() { return block_.get(); }
  size_t size() const { return size_; }
  HostContext& context() { return context_; }

  // ---- settings ----
  // Runs one script line against this instance. Throws ScriptError (with the column)
  // for a malformed line or arguments the function does not take, and Error when the
  // filter has no such function.
  void RunScriptLine(std::string_view line);
  // The filter's script line, from a buffer of buffer_length characters; nothing when
  // the filter has no script-string callback or it returns false.
  std::optional<std::string> ScriptString(int buffer_length = 4096);
  // The same, with the caller's buffer, returning the callback's result.
  bool ScriptString(char* buffer, int length);
  // Both description slots, each from a buffer of buffer_length characters.
  std::string Describe(int buffer_length = 1024);
  std::string Describe2(int buffer_length = 1024);
  long Params();
  // The filter's configure callback (its dialog) over the parent window: 0 confirmed,
  // 1 cancelled, -1 when no dialog could be shown. Throws Error when the filter has
  // no configure callback.
  int Configure(HostWindow parent = nullptr);

  // ---- render, step by step ----
  // Describes the pictures and calls start. In throwing mode a raised error leaves
  // as FilterError; the render counts as begun either way, so End() must follow.
  int Start(const FrameFormat& source, const OutputFormat& output = {});
  // One run call; the source picture must match the format given to Start.
  int Run(const FrameView& picture, int32_t output_frame, int32_t source_frame);
  int End();
  bool rendering() const { return rendering_; }

  // The destination picture: bottom row first, output width pixels per row, followed
  // by one guard pixel that holds the fill unless something paints past the picture.
  const std::vector<uint32_t>& output_pixels() const { return output_; }
  // Pixel x of stored row y (0 is the bottom row).
  uint32_t output_pixel(int32_t x, int32_t stored_row) const;

  // ---- render, whole ----
  // Start, run for every frame of the source (output frames numbered from 0), end.
  // Stops at the first failure; end follows every render that began. Raised errors
  // are collected in the report in both raise-error modes.
  RenderReport Render(FrameSource& source, const RenderOptions& options = {});

 private:
  template <typename Call>
  auto CallModule(Call&& call);

  LoadedModule& module_;
  FilterRecord* filter_;
  size_t size_;
  std::unique_ptr<std::byte[]> block_;
  HostBitmap source_bitmap_{};
  HostBitmap output_bitmap_{};
  HostFrameState frame_state_{};
  HostContext context_{};
  std::vector<uint32_t> output_;
  bool rendering_ = false;
  int interpreter_ = 0;  // stands for the script interpreter the editor passes along
};

}  // namespace trackloom::runner
