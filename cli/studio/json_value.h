// A small JSON value for what the studio's page sends and the project file holds:
// parsed from text, built in code, written back. Numbers are doubles; objects keep
// their keys in order.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trackloom::cli {

class JsonValue {
 public:
  enum class Kind { kNull, kBool, kNumber, kString, kArray, kObject };

  JsonValue() = default;
  static JsonValue Bool(bool b);
  static JsonValue Number(double n);
  static JsonValue String(std::string s);
  static JsonValue Array();
  static JsonValue Object();

  // The value of text, or nothing when it is not JSON or nests deeper than 32.
  static std::optional<JsonValue> Parse(std::string_view text);
  std::string Write() const;

  Kind kind() const { return kind_; }
  bool IsObject() const { return kind_ == Kind::kObject; }
  bool IsArray() const { return kind_ == Kind::kArray; }

  // The member key, or a null value when there is none (or this is no object).
  const JsonValue& operator[](std::string_view key) const;
  // The string, number or bool, or fallback when the value is of another kind.
  std::string Text(const std::string& fallback = "") const;
  double Num(double fallback = 0) const;
  bool Flag(bool fallback = false) const;
  const std::vector<JsonValue>& items() const { return items_; }

  JsonValue& Set(const std::string& key, JsonValue value);
  JsonValue& Push(JsonValue value);

 private:
  Kind kind_ = Kind::kNull;
  bool bool_ = false;
  double number_ = 0;
  std::string string_;
  std::vector<JsonValue> items_;
  std::vector<std::pair<std::string, JsonValue>> members_;
  friend class JsonParser;
};

// text as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view text);

}  // namespace trackloom::cli
