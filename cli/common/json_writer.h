// The one JSON writer of the command's --json summaries: values written straight to
// a stream, with separators and string escapes done here.
//
//   JsonWriter json(out);
//   json.BeginObject().Key("file").String(path).Key("records").Integer(n).EndObject();
//
// gives {"file": "...", "records": 12}. Keys and values follow each other as the
// calls come; the writer does not check that the caller's sequence is valid JSON.
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

  std::FILE* out_;
  std::vector<bool> empty_;  // one entry per open container: nothing in it yet
  bool after_key_ = false;
};

}  // namespace trackloom::cli
