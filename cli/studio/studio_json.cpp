#include "cli/studio/studio_json.h"

#include <algorithm>

namespace trackloom::cli::studio {

namespace {

constexpr int kDeepest = 32;

// How deep the text's arrays and objects nest, outside its strings; the parser is
// not asked to build what nests deeper than the page ever sends.
int Depth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') {
        ++i;
      } else if (c == '"') {
        in_string = false;
      }
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

const Json* Member(const Json& value, std::string_view key) {
  if (!value.is_object()) return nullptr;
  const auto it = value.find(key);
  return it == value.end() ? nullptr : &*it;
}

}  // namespace

std::optional<Json> ParseJson(std::string_view text) {
  if (Depth(text) > kDeepest) return std::nullopt;
  Json value = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (value.is_discarded()) return std::nullopt;
  return value;
}

std::string WriteJson(const Json& value) {
  return value.dump(-1, ' ', false, Json::error_handler_t::replace);
}

std::string TextOf(const Json& value, std::string_view key, const std::string& fallback) {
  const Json* member = Member(value, key);
  return member != nullptr && member->is_string() ? member->get<std::string>() : fallback;
}

double NumberOf(const Json& value, std::string_view key, double fallback) {
  const Json* member = Member(value, key);
  return member != nullptr && member->is_number() ? member->get<double>() : fallback;
}

bool FlagOf(const Json& value, std::string_view key, bool fallback) {
  const Json* member = Member(value, key);
  return member != nullptr && member->is_boolean() ? member->get<bool>() : fallback;
}

const Json& ItemsOf(const Json& value, std::string_view key) {
  static const Json kNone = Json::array();
  const Json* member = Member(value, key);
  return member != nullptr && member->is_array() ? *member : kNone;
}

}  // namespace trackloom::cli::studio
