#include "runner/editor.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <utility>

#include "runner/module_library.h"
#include "runner/script_line.h"

namespace trackloom::runner {

// ---- the editor's services ---------------------------------------------------------

// The services are plain C function pointers without a context argument, so the
// editor and module a call belongs to are kept here for the length of each call into
// the module.
struct ServiceCallbacks {
  struct Scope {
    Scope(Editor& editor, LoadedModule* module) : saved(current) { current = {&editor, module}; }
    ~Scope() { current = saved; }
    Scope(const Scope&) = delete;
    Scope& operator=(const Scope&) = delete;
    struct State {
      Editor* editor = nullptr;
      LoadedModule* module = nullptr;
    } saved;
  };
  static thread_local Scope::State current;

  static FilterRecord* TRACKLOOM_CDECL AddFilter(HostModule* module, const FilterRecord* record,
                                                 int record_size) {
    LoadedModule* loaded = current.module;
    if (loaded == nullptr || current.editor == nullptr) return nullptr;
    loaded->offered_sizes_.push_back(record_size);
    // A record of another size was written against another version of the layout.
    if (current.editor->refuse_registrations_ || record == nullptr ||
        record_size != static_cast<int>(sizeof(FilterRecord))) {
      return nullptr;
    }
    auto copy = std::make_unique<FilterRecord>(*record);
    copy->module = module;
    loaded->filters_.push_back(std::move(copy));
    return loaded->filters_.back().get();
  }

  static void TRACKLOOM_CDECL RemoveFilter(FilterRecord* filter) {
    if (current.module != nullptr) current.module->removed_.push_back(filter);
  }

  static void TRACKLOOM_CDECL RaiseError(const char* format, ...) {
    std::string message;
    if (format != nullptr) {
      va_list args;
      va_start(args, format);
      char buffer[1024];
      const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
      va_end(args);
      if (n >= 0)
        message.assign(buffer, std::min<size_t>(static_cast<size_t>(n), sizeof buffer - 1));
    }
    Editor* editor = current.editor;
    if (editor == nullptr) return;
    editor->raised_errors_.push_back(message);
    // Thrown from here, through the module's frames, as the real editor does.
    if (editor->mode_ == RaiseErrorMode::kRecordAndThrow) throw FilterError(message);
  }
};

thread_local ServiceCallbacks::Scope::State ServiceCallbacks::current;

Editor::Editor(RaiseErrorMode mode) : mode_(mode) {
  services_.add_filter = &ServiceCallbacks::AddFilter;
  services_.remove_filter = &ServiceCallbacks::RemoveFilter;
  services_.raise_error = &ServiceCallbacks::RaiseError;
}

Editor::~Editor() = default;

// ---- modules -------------------------------------------------------------------

struct LoadedModule::Library {
  explicit Library(const std::string& path) : file(path) {}
  ModuleLibrary file;
};

LoadedModule::LoadedModule(Editor& editor, ModuleExports exports, void* os_handle)
    : editor_(editor), exports_(exports) {
  module_record_.module_handle = os_handle;
  Register();
}

LoadedModule::LoadedModule(Editor& editor, ModuleExports exports, std::unique_ptr<Library> library)
    : editor_(editor), exports_(exports), library_(std::move(library)) {
  path_ = library_->file.path();
  module_record_.module_handle = library_->file.handle();
  Register();
}

std::unique_ptr<LoadedModule> LoadedModule::Load(Editor& editor, const std::string& path) {
  auto library = std::make_unique<Library>(path);
  ModuleExports exports;
  exports.init = reinterpret_cast<ModuleInitFunction>(library->file.Find(kInitExportName));
  exports.deinit = reinterpret_cast<ModuleDeinitFunction>(library->file.Find(kDeinitExportName));
  return std::unique_ptr<LoadedModule>(new LoadedModule(editor, exports, std::move(library)));
}

void LoadedModule::Register() {
  if (exports_.init == nullptr || exports_.deinit == nullptr) {
    throw Error("module " + path_ + " lacks " + kInitExportName + " or " + kDeinitExportName);
  }
  // Values the module cannot mistake for versions; left as they are, they mean
  // "not reported".
  constexpr int kUntouched = -0x5EED;
  int api = kUntouched;
  int compatible = kUntouched;
  ServiceCallbacks::Scope scope(editor_, this);
  init_result_ = exports_.init(&module_record_, editor_.services(), &api, &compatible);
  if (api != kUntouched) api_version_ = api;
  if (compatible != kUntouched) compatible_version_ = compatible;
}

LoadedModule::~LoadedModule() {
  try {
    Withdraw();
  } catch (...) {
    // A module that raises an error while being withdrawn is unloaded all the same.
  }
}

FilterRecord& LoadedModule::filter(size_t index) {
  if (index >= filters_.size()) {
    throw Error("no filter " + std::to_string(index + 1) + ": the module registered " +
                std::to_string(filters_.size()));
  }
  return *filters_[index];
}

void LoadedModule::Withdraw() {
  if (withdrawn_) return;
  withdrawn_ = true;
  ServiceCallbacks::Scope scope(editor_, this);
  exports_.deinit(&module_record_, editor_.services());
}

// ---- instances -----------------------------------------------------------------

template <typename Call>
auto FilterInstance::CallModule(Call&& call) {
  ServiceCallbacks::Scope scope(module_.editor(), &module_);
  return call();
}

FilterInstance::FilterInstance(LoadedModule& module, size_t filter_index)
    : module_(module), filter_(&module.filter(filter_index)) {
  if (filter_->instance_size < 0) throw Error("the filter declares a negative instance size");
  size_ = static_cast<size_t>(filter_->instance_size);
  // The block is zero-filled, and never empty so that its address is a real one.
  block_.reset(new std::byte[size_ == 0 ? 1 : size_]());
  context_.filter = filter_;
  context_.instance = reinterpret_cast<InstanceState*>(block_.get());
  context_.destination = &output_bitmap_;
  context_.source = &source_bitmap_;
  context_.frame_state = &frame_state_;
  output_.assign(1, 0);
  output_bitmap_.data = output_.data();
  output_bitmap_.depth = 32;
  source_bitmap_.depth = 32;
  if (filter_->init != nullptr) {
    if (CallModule([&] { return filter_->init(&context_, module_.editor().services()); }) != 0) {
      throw Error(std::string("the filter ") + (filter_->name ? filter_->name : "") +
                  " refused to create an instance");
    }
  }
}

FilterInstance::~FilterInstance() {
  try {
    if (rendering_) End();
  } catch (...) {
    // The instance goes away regardless.
  }
  try {
    if (filter_->deinit != nullptr) {
      CallModule([&] { filter_->deinit(&context_, module_.editor().services()); });
    }
  } catch (...) {
  }
}

namespace {

const char* TypeName(char type) {
  switch (type) {
    case 'i':
      return "int";
    case 'l':
      return "long";
    case 'd':
      return "double";
    case 's':
      return "string";
    default:
      return "?";
  }
}

const char* KindName(ScriptValue::Kind kind) {
  switch (kind) {
    case ScriptValue::Kind::kInteger:
      return "int";
    case ScriptValue::Kind::kReal:
      return "double";
    case ScriptValue::Kind::kString:
      return "string";
  }
  return "?";
}

// The column of the first argument the signature's types do not take, 0 when all fit.
int Mismatch(const std::string& signature, const std::vector<ScriptValue>& arguments,
             bool* count_differs) {
  const std::string types = signature.empty() ? std::string() : signature.substr(1);
  *count_differs = types.size() != arguments.size();
  for (size_t i = 0; i < arguments.size() && i < types.size(); ++i) {
    const ScriptValue& a = arguments[i];
    bool fits = false;
    switch (types[i]) {
      case 'i':
        fits = a.kind == ScriptValue::Kind::kInteger && a.integer >= INT32_MIN &&
               a.integer <= INT32_MAX;
        break;
      case 'l':
        fits = a.kind == ScriptValue::Kind::kInteger;
        break;
      case 'd':
        fits = a.kind != ScriptValue::Kind::kString;
        break;
      case 's':
        fits = a.kind == ScriptValue::Kind::kString;
        break;
      default:
        break;
    }
    if (!fits) return a.column;
  }
  return 0;
}

std::string DescribeSignature(const std::string& name, const std::string& signature) {
  std::string out = name + "(";
  for (size_t i = 1; i < signature.size(); ++i)
    out += std::string(i > 1 ? ", " : "") + TypeName(signature[i]);
  return out + ")";
}

// The editor SDK's script value type tags (its enum runs T_VOID, T_INT, T_PINT, T_STR,
// T_ARRAY, T_OBJECT, T_FNAME, T_FUNCTION, T_VARLV, T_LONG, T_DOUBLE from 0), so a module
// that does look at them sees what the editor would give it.
enum ScriptType : int32_t { kTypeInt = 1, kTypeString = 3, kTypeLong = 9, kTypeDouble = 10 };

}  // namespace

void FilterInstance::RunScriptLine(std::string_view line) {
  ScriptCall call = ParseScriptLine(line);
  const ScriptObject* object = filter_->script_object;
  const ScriptFunctionEntry* chosen = nullptr;
  std::string wanted;
  int bad_column = 0;
  bool bad_count_differs = true;
  std::string bad_why;
  for (const ScriptFunctionEntry* f = object ? object->functions : nullptr;
       f != nullptr && (f->function != nullptr || f->name != nullptr); ++f) {
    if (f->name == nullptr || call.function != f->name) continue;
    const std::string signature = f->signature ? f->signature : "0";
    bool count_differs = false;
    const int column = Mismatch(signature, call.arguments, &count_differs);
    if (column == 0 && !count_differs) {
      chosen = f;
      break;
    }
    wanted += (wanted.empty() ? "" : " or ") + DescribeSignature(f->name, signature);
    // A function with as many arguments as the line says more about what is wrong
    // than one with another count.
    const bool better = bad_column == 0 || (!count_differs && bad_count_differs);
    if (!better) continue;
    bad_count_differs = count_differs;
    if (!count_differs) {
      size_t index = 0;
      while (call.arguments[index].column != column) ++index;
      bad_column = column;
      bad_why = std::string("argument ") + std::to_string(index + 1) + " is " +
                KindName(call.arguments[index].kind) + " where " + TypeName(signature[index + 1]) +
                " is expected";
    } else {
      // Point at the first argument too many, or at the start for too few.
      const size_t takes = signature.size() - 1;
      bad_column = call.arguments.size() > takes ? call.arguments[takes].column : 1;
      bad_why = std::to_string(call.arguments.size()) + " arguments given";
    }
  }
  if (chosen == nullptr) {
    if (wanted.empty()) {
      throw Error(std::string("the filter ") + (filter_->name ? filter_->name : "") +
                  " has no script function " + call.function);
    }
    throw ScriptError(bad_column, bad_why + "; the filter takes " + wanted);
  }

  const std::string types = std::string(chosen->signature).substr(1);
  std::vector<std::string> texts(call.arguments.size());
  std::vector<char*> text_pointers(call.arguments.size(), nullptr);
  std::vector<ScriptArgument> arguments(call.arguments.size());
  for (size_t i = 0; i < call.arguments.size(); ++i) {
    const ScriptValue& v = call.arguments[i];
    ScriptArgument& a = arguments[i];
    a.owner = &interpreter_;
    switch (types[i]) {
      case 'i':
        a.type = kTypeInt;
        a.value.i = static_cast<int32_t>(v.integer);
        break;
      case 'l':
        a.type = kTypeLong;
        a.value.l = v.integer;
        break;
      case 'd':
        a.type = kTypeDouble;
        a.value.d = v.kind == ScriptValue::Kind::kReal ? v.real : static_cast<double>(v.integer);
        break;
      default:
        a.type = kTypeString;
        texts[i] = v.text;
        text_pointers[i] = texts[i].data();
        a.value.s = &text_pointers[i];
        break;
    }
  }
  CallModule([&] {
    chosen->function(&interpreter_, &context_, arguments.data(),
                     static_cast<int>(arguments.size()));
  });
}

bool FilterInstance::ScriptString(char* buffer, int length) {
  if (filter_->script_string == nullptr) return false;
  return CallModule([&] {
    return filter_->script_string(&context_, module_.editor().services(), buffer, length);
  });
}

std::optional<std::string> FilterInstance::ScriptString(int buffer_length) {
  if (buffer_length <= 0) throw Error("a script string needs a buffer of at least one character");
  std::vector<char> buffer(static_cast<size_t>(buffer_length), '\0');
  if (!ScriptString(buffer.data(), buffer_length)) return std::nullopt;
  // Whatever the module did, the text ends inside the buffer.
  buffer.back() = '\0';
  return std::string(buffer.data());
}

std::string FilterInstance::Describe(int buffer_length) {
  std::vector<char> buffer(static_cast<size_t>(std::max(buffer_length, 1)), '\0');
  if (filter_->describe != nullptr) {
    CallModule([&] { filter_->describe(&context_, module_.editor().services(), buffer.data()); });
  }
  buffer.back() = '\0';
  return buffer.data();
}

std::string FilterInstance::Describe2(int buffer_length) {
  std::vector<char> buffer(static_cast<size_t>(std::max(buffer_length, 1)), '\0');
  if (filter_->describe2 != nullptr) {
    // The editor calls this slot with the buffer's length as a fourth argument.
    using WithLength = void(TRACKLOOM_CDECL*)(HostContext*, HostServices*, char*, int);
    auto function = reinterpret_cast<WithLength>(reinterpret_cast<void (*)()>(filter_->describe2));
    CallModule(
        [&] { function(&context_, module_.editor().services(), buffer.data(), buffer_length); });
  }
  buffer.back() = '\0';
  return buffer.data();
}

long FilterInstance::Params() {
  if (filter_->params == nullptr) return 0;
  return CallModule([&] { return filter_->params(&context_, module_.editor().services()); });
}

int FilterInstance::Configure(HostWindow parent) {
  if (filter_->configure == nullptr) {
    throw Error(std::string("the filter ") + (filter_->name ? filter_->name : "") +
                " has no settings dialog");
  }
  return CallModule(
      [&] { return filter_->configure(&context_, module_.editor().services(), parent); });
}

int FilterInstance::Start(const FrameFormat& source, const OutputFormat& output) {
  if (rendering_) throw Error("a render is already running in this instance");
  source_bitmap_ = {};
  source_bitmap_.depth = source.depth;
  source_bitmap_.width = source.width;
  source_bitmap_.height = source.height;
  output_bitmap_ = {};
  output_bitmap_.depth = output.depth;
  output_bitmap_.width = output.width.value_or(source.width);
  output_bitmap_.height = output.height.value_or(source.height);
  const size_t width = static_cast<size_t>(std::max(output_bitmap_.width, 0));
  const size_t height = static_cast<size_t>(std::max(output_bitmap_.height, 0));
  // 32 bits per pixel whatever depth is declared; one spare pixel so that an empty
  // picture still has an address.
  output_.assign(width * height + 1, output.fill);
  output_bitmap_.data = output_.data();
  output_bitmap_.pitch = static_cast<ptrdiff_t>(width * 4);
  frame_state_ = {};
  frame_state_.microseconds_per_frame = source.microseconds_per_frame;
  rendering_ = true;
  return CallModule(
      [&] { return filter_->start ? filter_->start(&context_, module_.editor().services()) : 0; });
}

int FilterInstance::Run(const FrameView& picture, int32_t output_frame, int32_t source_frame) {
  if (!rendering_) throw Error("run called outside a render: call Start first");
  source_bitmap_.data = const_cast<void*>(picture.bottom_row);
  source_bitmap_.pitch = picture.pitch;
  frame_state_.output_frame = output_frame;
  frame_state_.source_frame = source_frame;
  if (filter_->run == nullptr) return 0;
  return CallModule([&] { return filter_->run(&context_, module_.editor().services()); });
}

int FilterInstance::End() {
  if (!rendering_) throw Error("end called outside a render");
  rendering_ = false;
  return CallModule(
      [&] { return filter_->end ? filter_->end(&context_, module_.editor().services()) : 0; });
}

uint32_t FilterInstance::output_pixel(int32_t x, int32_t stored_row) const {
  const int32_t width = output_bitmap_.width;
  if (x < 0 || x >= width || stored_row < 0 || stored_row >= output_bitmap_.height) {
    throw Error("pixel (" + std::to_string(x) + ", " + std::to_string(stored_row) +
                ") is outside the output picture");
  }
  return output_[static_cast<size_t>(stored_row) * static_cast<size_t>(width) +
                 static_cast<size_t>(x)];
}

RenderReport FilterInstance::Render(FrameSource& source, const RenderOptions& options) {
  RenderReport report;
  Editor& editor = module_.editor();
  const size_t first_error = editor.raised_errors().size();
  const FrameFormat format = source.format();
  bool failed = false;
  try {
    report.start_result = Start(format, options.output);
  } catch (const FilterError&) {
    report.start_result = 1;
  }
  failed = report.start_result != 0;
  int32_t output_frame = 0;
  while (!failed) {
    std::optional<Frame> frame = source.Next();
    if (!frame) break;
    int result = 1;
    try {
      result = Run(frame->picture, output_frame, frame->source_frame);
    } catch (const FilterError&) {
    }
    if (result != 0) {
      report.failed_frame = output_frame;
      failed = true;
      break;
    }
    ++report.frames_run;
    ++output_frame;
    if (options.on_frame && !options.on_frame({report.frames_run, source.frame_count()})) {
      report.stopped = true;
      break;
    }
  }
  try {
    report.end_result = End();
  } catch (const FilterError&) {
    report.end_result = 1;
  }
  report.errors.assign(editor.raised_errors().begin() + static_cast<ptrdiff_t>(first_error),
                       editor.raised_errors().end());
  report.ok = !failed && report.end_result == 0 && report.errors.empty();
  return report;
}

}  // namespace trackloom::runner
