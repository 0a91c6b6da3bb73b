// The studio's JSON: what the page sends, the project file and the answers, as
// nlohmann's json with members kept in the order they came.
#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace trackloom::cli::studio {

using Json = nlohmann::ordered_json;

// The value of text, or nothing when it is not strict JSON (no comments, hexadecimal,
// plus signs or trailing commas) or nests deeper than 32.
std::optional<Json> ParseJson(std::string_view text);

// value as compact text; a byte of a string that is not UTF-8 is written as U+FFFD.
std::string WriteJson(const Json& value);

// The member key of an object as a string, number or bool; fallback when value is no
// object, has no such member, or it is of another kind.
std::string TextOf(const Json& value, std::string_view key, const std::string& fallback = "");
double NumberOf(const Json& value, std::string_view key, double fallback = 0);
bool FlagOf(const Json& value, std::string_view key, bool fallback = false);

// The member key's items when it is an array, an empty array otherwise.
const Json& ItemsOf(const Json& value, std::string_view key);

}  // namespace trackloom::cli::studio
