// The inspect and decode subcommands with their output streams passed in, so that
// tests can run them as a user would and read what they print.
#pragma once

#include <cstdio>
#include <string>

namespace trackloom::cli {

int InspectMain(int argc, char** argv, std::FILE* out, std::FILE* err);
int DecodeMain(int argc, char** argv, std::FILE* out, std::FILE* err);

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
