// The inspect and decode subcommands with their output streams passed in, so that
// tests can run them as a user would and read what they print.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace trackloom::cli {

int InspectMain(int argc, char** argv, std::FILE* out, std::FILE* err);
int DecodeMain(int argc, char** argv, std::FILE* out, std::FILE* err);
int RepairMain(int argc, char** argv, std::FILE* out, std::FILE* err);

// text as a JSON string, quotes included.
inline void WriteJsonString(std::FILE* out, std::string_view text) {
  std::fputc('"', out);
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      std::fprintf(out, "\\%c", c);
    } else if (u < 0x20) {
      std::fprintf(out, "\\u%04x", u);
    } else {
      std::fputc(c, out);
    }
  }
  std::fputc('"', out);
}

// "5.56 s" under a minute, "12:03.50" from a minute on.
inline std::string FormatSeconds(double seconds) {
  const long long centiseconds = static_cast<long long>(seconds * 100.0 + 0.5);
  char text[48];
  if (centiseconds < 6000) {
    std::snprintf(text, sizeof text, "%lld.%02lld s", centiseconds / 100, centiseconds % 100);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld.%02lld", centiseconds / 6000,
                  centiseconds / 100 % 60, centiseconds % 100);
  }
  return text;
}

}  // namespace trackloom::cli
