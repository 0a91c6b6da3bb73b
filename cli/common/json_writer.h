// The one JSON writer of the command's --json summaries: values written straight to
// a stream, with separators and string escapes done here.
//
//   JsonWriter json(out);
//   json.BeginObject().Key("file").String(path).Key("records").Integer(n).EndObject();
//
// gives {"file": "...", "records": 12}. Keys and values follow each other as the
// calls come; the writer does not check that the caller's sequence is valid JSON.
//
// The output is always UTF-8: a byte of a string that is not part of a valid UTF-8
// sequence is written as U+FFFD. A file name may be any bytes, so Path() adds, for a
// name that is not UTF-8, a second key NAME_hex with its exact bytes in hexadecimal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace trackloom::cli {

class JsonWriter {
 public:
  explicit JsonWriter(std::FILE* out) : out_(out) {}

  JsonWriter& BeginObject();
  JsonWriter& EndObject();
  JsonWriter& BeginArray();
  JsonWriter& EndArray();
  JsonWriter& Key(std::string_view key);
  JsonWriter& String(std::string_view text);
  // "key": "path", and "key_hex": "2f746d70..." after it when path is not UTF-8.
  JsonWriter& Path(std::string_view key, std::string_view path);
  JsonWriter& Integer(int64_t value);
  JsonWriter& Unsigned(uint64_t value);
  // A number with a fixed count of decimals: times as 2.000, to the millisecond.
  JsonWriter& Fixed(double value, int decimals);
  JsonWriter& Bool(bool value);
  JsonWriter& Null();

 private:
  // ", " before anything but the first item of a container or a key's value.
  void Separate();
  void Quoted(std::string_view text);
  // Writes the valid UTF-8 sequence starting at text[i] and returns its length, or
  // 0 when none starts there.
  size_t Utf8Sequence(std::string_view text, size_t i);

  std::FILE* out_;
  std::vector<bool> empty_;  // one entry per open container: nothing in it yet
  bool after_key_ = false;
};

}  // namespace trackloom::cli
