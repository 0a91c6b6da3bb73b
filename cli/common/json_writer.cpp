#include "cli/common/json_writer.h"

#include <cinttypes>

namespace trackloom::cli {

void JsonWriter::Separate() {
  if (after_key_) {
    after_key_ = false;
    return;
  }
  if (!empty_.empty()) {
    if (!empty_.back()) std::fputs(", ", out_);
    empty_.back() = false;
  }
}

void JsonWriter::Quoted(std::string_view text) {
  std::fputc('"', out_);
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      std::fprintf(out_, "\\%c", c);
    } else if (u < 0x20) {
      std::fprintf(out_, "\\u%04x", u);
    } else {
      std::fputc(c, out_);
    }
  }
  std::fputc('"', out_);
}

JsonWriter& JsonWriter::BeginObject() {
  Separate();
  std::fputc('{', out_);
  empty_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndObject() {
  std::fputc('}', out_);
  if (!empty_.empty()) empty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::BeginArray() {
  Separate();
  std::fputc('[', out_);
  empty_.push_back(true);
  return *this;
}

JsonWriter& JsonWriter::EndArray() {
  std::fputc(']', out_);
  if (!empty_.empty()) empty_.pop_back();
  return *this;
}

JsonWriter& JsonWriter::Key(std::string_view key) {
  Separate();
  Quoted(key);
  std::fputs(": ", out_);
  after_key_ = true;
  return *this;
}

JsonWriter& JsonWriter::String(std::string_view text) {
  Separate();
  Quoted(text);
  return *this;
}

JsonWriter& JsonWriter::Integer(int64_t value) {
  Separate();
  std::fprintf(out_, "%" PRId64, value);
  return *this;
}

JsonWriter& JsonWriter::Unsigned(uint64_t value) {
  Separate();
  std::fprintf(out_, "%" PRIu64, value);
  return *this;
}

JsonWriter& JsonWriter::Fixed(double value, int decimals) {
  Separate();
  std::fprintf(out_, "%.*f", decimals, value);
  return *this;
}

JsonWriter& JsonWriter::Bool(bool value) {
  Separate();
  std::fputs(value ? "true" : "false", out_);
  return *this;
}

JsonWriter& JsonWriter::Null() {
  Separate();
  std::fputs("null", out_);
  return *this;
}

}  // namespace trackloom::cli
