#include "cli/common/json_writer.h"

#include <cinttypes>
#include <string>

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

namespace {

// The length of the valid UTF-8 sequence at text[i] (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF), or 0.
size_t Utf8Length(std::string_view text, size_t i) {
  const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char b = byte(i);
  size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;  // what the second byte may be
  if (b >= 0xC2 && b <= 0xDF) {
    n = 2;
  } else if (b >= 0xE0 && b <= 0xEF) {
    n = 3;
    if (b == 0xE0) low = 0xA0;
    if (b == 0xED) high = 0x9F;
  } else if (b >= 0xF0 && b <= 0xF4) {
    n = 4;
    if (b == 0xF0) low = 0x90;
    if (b == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (i + n > text.size() || byte(i + 1) < low || byte(i + 1) > high) return 0;
  for (size_t k = 2; k < n; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return n;
}

bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    if (static_cast<unsigned char>(text[i]) < 0x80) {
      ++i;
    } else if (const size_t n = Utf8Length(text, i)) {
      i += n;
    } else {
      return false;
    }
  }
  return true;
}

}  // namespace

size_t JsonWriter::Utf8Sequence(std::string_view text, size_t i) {
  const size_t n = Utf8Length(text, i);
  if (n > 0) std::fwrite(text.data() + i, 1, n, out_);
  return n;
}

void JsonWriter::Quoted(std::string_view text) {
  std::fputc('"', out_);
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      std::fprintf(out_, "\\%c", c);
    } else if (u < 0x20 || u == 0x7f) {
      std::fprintf(out_, "\\u%04x", u);
    } else if (u < 0x80) {
      std::fputc(c, out_);
    } else if (const size_t n = Utf8Sequence(text, i)) {
      i += n;
      continue;
    } else {
      std::fputs("\\ufffd", out_);
    }
    ++i;
  }
  std::fputc('"', out_);
}

JsonWriter& JsonWriter::Path(std::string_view key, std::string_view path) {
  Key(key).String(path);
  if (IsUtf8(path)) return *this;
  std::string hex;
  for (const char c : path) {
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
    hex += pair;
  }
  return Key(std::string(key) + "_hex").String(hex);
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
