#include "cli/studio/json_value.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace trackloom::cli {

// Recursive descent over the text; every failure gives up the whole parse.
class JsonParser {
 public:
  explicit JsonParser(std::string_view text) : text_(text) {}

  bool Value(JsonValue& out, int depth) {
    Space();
    if (depth > 32 || at_ >= text_.size()) return false;
    const char c = text_[at_];
    if (c == '{') return ObjectValue(out, depth);
    if (c == '[') return ArrayValue(out, depth);
    if (c == '"') {
      out.kind_ = JsonValue::Kind::kString;
      return StringValue(out.string_);
    }
    if (Word("true") || Word("false")) {
      out = JsonValue::Bool(text_[at_ - 1] == 'e' && text_[at_ - 2] == 'u');
      return true;
    }
    if (Word("null")) return true;
    return NumberValue(out);
  }

  bool AtEnd() {
    Space();
    return at_ == text_.size();
  }

 private:
  void Space() {
    while (at_ < text_.size() &&
           (text_[at_] == ' ' || text_[at_] == '\n' || text_[at_] == '\r' || text_[at_] == '\t'))
      ++at_;
  }
  bool Take(char c) {
    Space();
    if (at_ < text_.size() && text_[at_] == c) {
      ++at_;
      return true;
    }
    return false;
  }
  bool Word(std::string_view w) {
    if (text_.substr(at_, w.size()) != w) return false;
    at_ += w.size();
    return true;
  }
  bool NumberValue(JsonValue& out) {
    const std::string rest(text_.substr(at_, 64));
    char* end = nullptr;
    const double n = std::strtod(rest.c_str(), &end);
    if (end == rest.c_str() || !std::isfinite(n)) return false;
    at_ += static_cast<size_t>(end - rest.c_str());
    out = JsonValue::Number(n);
    return true;
  }
  static void AppendUtf8(std::string& s, unsigned code) {
    if (code < 0x80) {
      s += static_cast<char>(code);
    } else if (code < 0x800) {
      s += static_cast<char>(0xC0 | (code >> 6));
      s += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      s += static_cast<char>(0xE0 | (code >> 12));
      s += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      s += static_cast<char>(0xF0 | (code >> 18));
      s += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      s += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      s += static_cast<char>(0x80 | (code & 0x3F));
    }
  }
  bool Hex4(unsigned& code) {
    if (at_ + 4 > text_.size()) return false;
    const std::string digits(text_.substr(at_, 4));
    char* end = nullptr;
    code = static_cast<unsigned>(std::strtoul(digits.c_str(), &end, 16));
    at_ += 4;
    return end == digits.c_str() + 4;
  }
  bool Escape(std::string& s) {
    const char e = text_[at_++];
    static constexpr std::string_view kFrom = "\"\\/bfnrt", kTo = "\"\\/\b\f\n\r\t";
    if (const size_t i = kFrom.find(e); i != std::string_view::npos) {
      s += kTo[i];
      return true;
    }
    unsigned code = 0;
    if (e != 'u' || !Hex4(code)) return false;
    if (code >= 0xD800 && code < 0xDC00 && Word("\\u")) {
      unsigned low = 0;
      if (!Hex4(low) || low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
    }
    AppendUtf8(s, code);
    return true;
  }
  bool StringValue(std::string& s) {
    ++at_;
    while (at_ < text_.size()) {
      const char c = text_[at_++];
      if (c == '"') return true;
      if (static_cast<unsigned char>(c) < 0x20) return false;
      if (c != '\\') {
        s += c;
      } else if (at_ >= text_.size() || !Escape(s)) {
        return false;
      }
    }
    return false;
  }
  bool ArrayValue(JsonValue& out, int depth) {
    ++at_;
    out = JsonValue::Array();
    if (Take(']')) return true;
    do {
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      out.items_.push_back(std::move(item));
    } while (Take(','));
    return Take(']');
  }
  bool ObjectValue(JsonValue& out, int depth) {
    ++at_;
    out = JsonValue::Object();
    if (Take('}')) return true;
    do {
      std::string key;
      if (!Take('"')) return false;
      --at_;
      if (!StringValue(key) || !Take(':')) return false;
      JsonValue item;
      if (!Value(item, depth + 1)) return false;
      out.Set(key, std::move(item));
    } while (Take(','));
    return Take('}');
  }

  std::string_view text_;
  size_t at_ = 0;
};

JsonValue JsonValue::Bool(bool b) {
  JsonValue v;
  v.kind_ = Kind::kBool;
  v.bool_ = b;
  return v;
}
JsonValue JsonValue::Number(double n) {
  JsonValue v;
  v.kind_ = Kind::kNumber;
  v.number_ = n;
  return v;
}
JsonValue JsonValue::String(std::string s) {
  JsonValue v;
  v.kind_ = Kind::kString;
  v.string_ = std::move(s);
  return v;
}
JsonValue JsonValue::Array() {
  JsonValue v;
  v.kind_ = Kind::kArray;
  return v;
}
JsonValue JsonValue::Object() {
  JsonValue v;
  v.kind_ = Kind::kObject;
  return v;
}

std::optional<JsonValue> JsonValue::Parse(std::string_view text) {
  JsonParser parser(text);
  JsonValue v;
  if (!parser.Value(v, 0) || !parser.AtEnd()) return std::nullopt;
  return v;
}

const JsonValue& JsonValue::operator[](std::string_view key) const {
  static const JsonValue kNull;
  for (const auto& [k, v] : members_) {
    if (k == key) return v;
  }
  return kNull;
}

std::string JsonValue::Text(const std::string& fallback) const {
  return kind_ == Kind::kString ? string_ : fallback;
}
double JsonValue::Num(double fallback) const { return kind_ == Kind::kNumber ? number_ : fallback; }
bool JsonValue::Flag(bool fallback) const { return kind_ == Kind::kBool ? bool_ : fallback; }

JsonValue& JsonValue::Set(const std::string& key, JsonValue value) {
  for (auto& [k, v] : members_) {
    if (k == key) {
      v = std::move(value);
      return *this;
    }
  }
  members_.emplace_back(key, std::move(value));
  return *this;
}

JsonValue& JsonValue::Push(JsonValue value) {
  items_.push_back(std::move(value));
  return *this;
}

std::string JsonQuote(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20 || u == 0x7F) {
      char code[8];
      std::snprintf(code, sizeof code, "\\u%04x", u);
      out += code;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonValue::Write() const {
  switch (kind_) {
    case Kind::kNull:
      return "null";
    case Kind::kBool:
      return bool_ ? "true" : "false";
    case Kind::kNumber: {
      char text[40];
      std::snprintf(text, sizeof text, "%.15g", number_);
      return text;
    }
    case Kind::kString:
      return JsonQuote(string_);
    case Kind::kArray: {
      std::string out = "[";
      for (size_t i = 0; i < items_.size(); ++i) out += (i ? "," : "") + items_[i].Write();
      return out + "]";
    }
    case Kind::kObject:
      break;
  }
  std::string out = "{";
  for (size_t i = 0; i < members_.size(); ++i)
    out += (i ? "," : "") + JsonQuote(members_[i].first) + ":" + members_[i].second.Write();
  return out + "}";
}

}  // namespace trackloom::cli
