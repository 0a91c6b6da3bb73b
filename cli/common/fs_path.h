// Between the command's UTF-8 names and std::filesystem. On Linux a path is its
// bytes. On Windows the library would read a std::string in the C runtime's code page
// and write one back the same way, so a name like "Ölfilm" would come out as another
// file; there the conversion goes through UTF-8 explicitly.
#pragma once

#include <filesystem>
#include <string>

namespace trackloom::cli {

inline std::filesystem::path FsPath(const std::string& utf8) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
#else
  return std::filesystem::path(utf8);
#endif
}

inline std::string Utf8Name(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string utf8 = path.u8string();
  return std::string(utf8.begin(), utf8.end());
#else
  return path.string();
#endif
}

}  // namespace trackloom::cli
