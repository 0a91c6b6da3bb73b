// A module file loaded into the process: dlopen on POSIX systems, LoadLibraryA on
// Windows. Unloaded when the object goes away.
#pragma once

#include <string>

namespace trackloom::runner {

class ModuleLibrary {
 public:
  using Symbol = void (*)();

  // Throws Error, with the system's reason, when the file does not load.
  explicit ModuleLibrary(const std::string& path);
  ~ModuleLibrary();
  ModuleLibrary(const ModuleLibrary&) = delete;
  ModuleLibrary& operator=(const ModuleLibrary&) = delete;

  const std::string& path() const { return path_; }
  // The OS module handle (HMODULE on Windows, the dlopen handle elsewhere).
  void* handle() const { return handle_; }
  // The exported function of that name, or null.
  Symbol Find(const char* name) const;

 private:
  std::string path_;
  void* handle_ = nullptr;
  void* unwind_tables_ = nullptr;
};

}  // namespace trackloom::runner
