#include "cli/common/messages.h"

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

void PrintError(std::FILE* err, const std::string& message) {
  std::fprintf(err, "trackloom: %s\n", Printable(message).c_str());
}

}  // namespace trackloom::cli
