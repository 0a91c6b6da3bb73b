#include "runner/module_library.h"

#include "runner/errors.h"

#ifdef _WIN32
#include <windows.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>
#else
#include <dlfcn.h>
#endif

#if defined(_WIN32) && !defined(_WIN64)
// 32-bit MinGW unwinds with DWARF tables that each module registers with its own
// copy of the runtime, so an exception thrown here cannot pass through a module's
// frames unless this program's runtime knows that module's tables too. (64-bit
// Windows unwinds through the system's own tables and needs nothing.)
extern "C" void __register_frame(void* begin);
extern "C" void __deregister_frame(void* begin);
#endif

namespace trackloom::runner {

#ifdef _WIN32

namespace {

std::string SystemMessage(DWORD code) {
  char buffer[512] = {};
  const DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                 nullptr, code, 0, buffer, sizeof buffer, nullptr);
  std::string text(buffer, n);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
    text.pop_back();
  return text.empty() ? "error " + std::to_string(code) : text;
}

#if !defined(_WIN64)
// The address of the loaded module's ".eh_frame" section, or null. Section names
// longer than eight characters live in the file's string table, which is not part
// of the loaded image, so the file itself is read.
void* FindUnwindTables(const std::string& path, HMODULE module) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), {});
  auto u32 = [&](size_t at) -> uint32_t {
    if (at + 4 > file.size()) return 0;
    uint32_t v;
    std::memcpy(&v, &file[at], 4);
    return v;
  };
  auto u16 = [&](size_t at) -> uint16_t {
    if (at + 2 > file.size()) return 0;
    uint16_t v;
    std::memcpy(&v, &file[at], 2);
    return v;
  };
  const uint32_t pe = u32(0x3C);                 // e_lfanew: where the PE signature is
  const uint16_t sections = u16(pe + 6);         // FileHeader.NumberOfSections
  const uint32_t symbols = u32(pe + 12);         // FileHeader.PointerToSymbolTable
  const uint32_t symbol_count = u32(pe + 16);    // FileHeader.NumberOfSymbols
  const uint16_t optional_size = u16(pe + 20);   // FileHeader.SizeOfOptionalHeader
  const size_t table = pe + 24 + optional_size;  // the section headers, 40 bytes each
  const size_t strings = static_cast<size_t>(symbols) + static_cast<size_t>(symbol_count) * 18;
  for (uint16_t i = 0; i < sections; ++i) {
    const size_t header = table + i * 40u;
    if (header + 40 > file.size()) break;
    std::string name(reinterpret_cast<const char*>(&file[header]), 8);
    name = name.c_str();
    if (!name.empty() && name[0] == '/' && symbols != 0) {
      const size_t at = strings + std::strtoul(name.c_str() + 1, nullptr, 10);
      name.clear();
      for (size_t k = at; k < file.size() && file[k] != 0; ++k) name += static_cast<char>(file[k]);
    }
    if (name == ".eh_frame" || name == ".eh_fram") {
      const uint32_t rva = u32(header + 12);  // SectionHeader.VirtualAddress
      return reinterpret_cast<uint8_t*>(module) + rva;
    }
  }
  return nullptr;
}
#endif

}  // namespace

ModuleLibrary::ModuleLibrary(const std::string& path) : path_(path) {
  HMODULE module = LoadLibraryA(path.c_str());
  if (module == nullptr) {
    throw Error("cannot load module " + path + ": " + SystemMessage(GetLastError()));
  }
  handle_ = module;
#if !defined(_WIN64)
  unwind_tables_ = FindUnwindTables(path, module);
  if (unwind_tables_ != nullptr) __register_frame(unwind_tables_);
#endif
}

ModuleLibrary::~ModuleLibrary() {
#if !defined(_WIN64)
  if (unwind_tables_ != nullptr) __deregister_frame(unwind_tables_);
#endif
  FreeLibrary(static_cast<HMODULE>(handle_));
}

ModuleLibrary::Symbol ModuleLibrary::Find(const char* name) const {
  return reinterpret_cast<Symbol>(
      reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name)));
}

#else

ModuleLibrary::ModuleLibrary(const std::string& path) : path_(path) {
  // A path without a slash would be searched for along the library path instead.
  const std::string where = path.find('/') == std::string::npos ? "./" + path : path;
  handle_ = dlopen(where.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    throw Error("cannot load module " + path + ": " + (why ? why : "unknown reason"));
  }
}

ModuleLibrary::~ModuleLibrary() { dlclose(handle_); }

ModuleLibrary::Symbol ModuleLibrary::Find(const char* name) const {
  return reinterpret_cast<Symbol>(dlsym(handle_, name));
}

#endif

}  // namespace trackloom::runner
