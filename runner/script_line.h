// The editor's script language, as far as filter settings need it: one call per line,
//
//   Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250")
//
// optionally behind a dotted object path (VirtualDub.video.filters.instance[0].Config)
// and followed by a semicolon. Arguments are integers, reals and quoted strings; inside
// quotes \\ stands for one backslash, \" for a quote, \n \r \t for those control
// characters, and any other backslash is an error.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace trackloom::runner {

struct ScriptValue {
  enum class Kind { kInteger, kReal, kString };
  Kind kind = Kind::kInteger;
  int64_t integer = 0;
  double real = 0;
  std::string text;  // the string with its escapes resolved
  int column = 0;    // where the argument begins, 1-based
};

struct ScriptCall {
  std::string object_path;  // "VirtualDub.video.filters.instance[0]", or empty
  std::string function;     // "Config"
  std::vector<ScriptValue> arguments;
};

// Throws ScriptError, with the column of the first offending character, for anything
// that is not exactly one well-formed call.
ScriptCall ParseScriptLine(std::string_view line);

// text as a quoted script string that ParseScriptLine reads back unchanged.
std::string QuoteScriptString(std::string_view text);

}  // namespace trackloom::runner
