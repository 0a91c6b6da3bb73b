#include "runner/script_line.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

#include "runner/errors.h"

namespace trackloom::runner {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(char c) { return IsDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
bool IsIdentifierStart(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}
bool IsIdentifierPart(char c) { return IsIdentifierStart(c) || IsDigit(c); }

std::string Describe(char c) {
  if (c == '\0') return "a zero byte";
  if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) {
    static const char kHex[] = "0123456789ABCDEF";
    const auto u = static_cast<unsigned char>(c);
    return std::string("byte 0x") + kHex[u >> 4] + kHex[u & 15];
  }
  return std::string("'") + c + "'";
}

class Parser {
 public:
  explicit Parser(std::string_view line) : line_(line) {}

  ScriptCall Parse() {
    ScriptCall call;
    SkipSpace();
    if (AtEnd()) Fail("empty line: expected a call such as Config(...)");
    // Dotted path: every component but the last names an object.
    std::string name = Identifier();
    while (true) {
      if (Peek() == '[') name += Index();
      if (Peek() != '.') break;
      ++pos_;
      call.object_path += (call.object_path.empty() ? "" : ".") + name;
      name = Identifier();
    }
    call.function = name;
    SkipSpace();
    Expect('(', "'(' after the function name");
    SkipSpace();
    if (Peek() != ')') {
      while (true) {
        call.arguments.push_back(Value());
        SkipSpace();
        if (Peek() == ',') {
          ++pos_;
          SkipSpace();
          continue;
        }
        if (Peek() == ')') break;
        Fail(Found() + " where ',' or ')' should follow an argument");
      }
    }
    ++pos_;  // ')'
    SkipSpace();
    if (Peek() == ';') ++pos_;
    SkipSpace();
    if (!AtEnd()) Fail(Found() + " after the end of the call");
    return call;
  }

 private:
  bool AtEnd() const { return pos_ >= line_.size(); }
  char Peek() const { return AtEnd() ? '\0' : line_[pos_]; }
  int Column() const { return static_cast<int>(pos_) + 1; }
  std::string Found() const { return AtEnd() ? "end of line" : Describe(line_[pos_]); }

  [[noreturn]] void Fail(const std::string& what) const { throw ScriptError(Column(), what); }

  void SkipSpace() {
    while (!AtEnd() && IsSpace(line_[pos_])) ++pos_;
  }

  void Expect(char c, const char* what) {
    if (Peek() != c || AtEnd()) Fail(std::string("expected ") + what + ", found " + Found());
    ++pos_;
  }

  std::string Identifier() {
    if (!IsIdentifierStart(Peek())) Fail("expected a name, found " + Found());
    const size_t start = pos_;
    while (!AtEnd() && IsIdentifierPart(line_[pos_])) ++pos_;
    return std::string(line_.substr(start, pos_ - start));
  }

  // "[0]" after an object name, kept as written.
  std::string Index() {
    const size_t start = pos_;
    ++pos_;
    if (!IsDigit(Peek())) Fail("expected an index, found " + Found());
    while (IsDigit(Peek())) ++pos_;
    Expect(']', "']'");
    return std::string(line_.substr(start, pos_ - start));
  }

  ScriptValue Value() {
    const char c = Peek();
    if (c == '"') return String();
    if (IsDigit(c) || c == '-' || c == '+' || c == '.') return Number();
    Fail("expected an argument (a number or a quoted string), found " + Found());
  }

  ScriptValue String() {
    ScriptValue value;
    value.kind = ScriptValue::Kind::kString;
    value.column = Column();
    ++pos_;  // opening quote
    while (true) {
      if (AtEnd()) {
        pos_ = static_cast<size_t>(value.column - 1);
        Fail("string is not closed: the line ends before its closing '\"'");
      }
      const char c = line_[pos_];
      if (c == '"') break;
      if (c == '\0') Fail("a zero byte inside a string");
      if (c != '\\') {
        value.text += c;
        ++pos_;
        continue;
      }
      ++pos_;
      switch (Peek()) {
        case '\\':
          value.text += '\\';
          break;
        case '"':
          value.text += '"';
          break;
        case 'n':
          value.text += '\n';
          break;
        case 'r':
          value.text += '\r';
          break;
        case 't':
          value.text += '\t';
          break;
        default:
          --pos_;
          Fail("unknown escape '\\" + std::string(AtEnd() ? "" : line_.substr(pos_ + 1, 1)) +
               "' in a string (write a backslash as \\\\)");
      }
      ++pos_;
    }
    ++pos_;  // closing quote
    return value;
  }

  ScriptValue Number() {
    ScriptValue value;
    value.column = Column();
    const size_t start = pos_;
    bool negative = false;
    if (Peek() == '-' || Peek() == '+') {
      negative = Peek() == '-';
      ++pos_;
    }
    if (Peek() == '0' && pos_ + 1 < line_.size() &&
        (line_[pos_ + 1] == 'x' || line_[pos_ + 1] == 'X')) {
      pos_ += 2;
      if (!IsHexDigit(Peek())) Fail("expected hexadecimal digits, found " + Found());
      uint64_t magnitude = 0;
      while (IsHexDigit(Peek())) {
        const char h = Peek();
        const uint64_t digit = IsDigit(h) ? uint64_t(h - '0') : uint64_t((h | 0x20) - 'a' + 10);
        if (magnitude > (std::numeric_limits<uint64_t>::max() >> 4)) Fail("number is too large");
        magnitude = magnitude << 4 | digit;
        ++pos_;
      }
      return Integer(value, negative, magnitude, start);
    }
    const size_t digits_start = pos_;
    while (IsDigit(Peek())) ++pos_;
    bool real = false;
    if (Peek() == '.') {
      real = true;
      ++pos_;
      while (IsDigit(Peek())) ++pos_;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      real = true;
      ++pos_;
      if (Peek() == '-' || Peek() == '+') ++pos_;
      if (!IsDigit(Peek())) Fail("expected the exponent's digits, found " + Found());
      while (IsDigit(Peek())) ++pos_;
    }
    const std::string text(line_.substr(start, pos_ - start));
    if (pos_ == digits_start || text == "-." || text == "+." || text == ".") {
      pos_ = start;
      Fail("expected a number, found " + Found());
    }
    if (real) {
      value.kind = ScriptValue::Kind::kReal;
      value.real = std::strtod(text.c_str(), nullptr);
      return value;
    }
    uint64_t magnitude = 0;
    for (size_t i = digits_start; i < pos_; ++i) {
      const auto digit = static_cast<uint64_t>(line_[i] - '0');
      if (magnitude > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
        pos_ = start;
        Fail("number is too large");
      }
      magnitude = magnitude * 10 + digit;
    }
    return Integer(value, negative, magnitude, start);
  }

  ScriptValue Integer(ScriptValue value, bool negative, uint64_t magnitude, size_t start) {
    constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (magnitude > kMax + (negative ? 1 : 0)) {
      pos_ = start;
      Fail("number is too large");
    }
    value.kind = ScriptValue::Kind::kInteger;
    value.integer =
        negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return value;
  }

  std::string_view line_;
  size_t pos_ = 0;
};

}  // namespace

ScriptCall ParseScriptLine(std::string_view line) { return Parser(line).Parse(); }

std::string QuoteScriptString(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += c;
    }
  }
  return out + "\"";
}

}  // namespace trackloom::runner
