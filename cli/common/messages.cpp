#include "cli/common/messages.h"

#include <cstdarg>

namespace trackloom::cli {

std::string Printable(std::string_view text) {
  std::string shown;
  shown.reserve(text.size());
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", u);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string Count(int64_t n, std::string_view noun, std::string_view plural) {
  std::string text = std::to_string(n) + " ";
  if (n == 1) return text.append(noun);
  if (!plural.empty()) return text.append(plural);
  return text.append(noun).append("s");
}

void Tell(std::FILE* err, std::string_view line) {
  std::string shown = Printable(line);
  shown += '\n';
  std::fputs(shown.c_str(), err);
}

void PrintError(std::FILE* err, const std::string& message) { Tell(err, "trackloom: " + message); }

void PrintNote(std::FILE* err, const std::string& message) {
  Tell(err, "trackloom: note: " + message);
}

void PrintWarning(std::FILE* err, const std::string& message) {
  Tell(err, "trackloom: warning: " + message);
}

std::string Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  va_list again;
  va_copy(again, arguments);
  const int length = std::vsnprintf(nullptr, 0, format, arguments);
  va_end(arguments);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, again);
  va_end(again);
  return text;
}

std::string ShellWord(const std::string& text) {
  if (text.find_first_not_of(
          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_-./+,:@") ==
      std::string::npos) {
    return text;
  }
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace trackloom::cli
