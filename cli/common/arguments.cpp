#include "cli/common/arguments.h"

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <utility>

#include "cli/common/messages.h"

namespace trackloom::cli {
namespace {

const Option* FindLong(const std::vector<Option>& options, std::string_view name) {
  for (const Option& o : options) {
    if (name == o.name) return &o;
  }
  return nullptr;
}

const Option* FindShort(const std::vector<Option>& options, char name) {
  for (const Option& o : options) {
    if (o.short_name != 0 && o.short_name == name) return &o;
  }
  return nullptr;
}

// One option as written: which it is, how it was spelled, and its value when the
// same word carried one ("--name=value", "-nvalue").
struct Word {
  const Option* option = nullptr;
  std::string spelled;
  std::optional<std::string> attached;
};

Word Recognise(const std::vector<Option>& options, const std::string& arg) {
  Word w;
  if (arg.rfind("--", 0) == 0) {
    const size_t eq = arg.find('=');
    w.spelled = arg.substr(0, eq);
    w.option = FindLong(options, std::string_view(w.spelled).substr(2));
    if (eq != std::string::npos) w.attached = arg.substr(eq + 1);
  } else {
    w.spelled = arg.substr(0, 2);
    w.option = FindShort(options, arg[1]);
    if (arg.size() > 2) {
      if (w.option == nullptr || w.option->value == nullptr) {
        w.option = nullptr;  // no bundling of flags: "-qv" is not an option here
        w.spelled = arg;
      } else {
        w.attached = arg.substr(2);
      }
    }
  }
  return w;
}

}  // namespace

bool ParseWholeNumber(std::string_view text, int min, int max, int* value) {
  int v = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (text.empty() || text[0] == '-' || ec != std::errc() || end != text.data() + text.size())
    return false;
  if (v < min || v > max) return false;
  *value = v;
  return true;
}

bool ParseDecimal(std::string_view text, double min, double max, double* value) {
  size_t digits = 0, points = 0;
  for (const char c : text) {
    if (c >= '0' && c <= '9') {
      ++digits;
    } else if (c == '.') {
      ++points;
    } else {
      return false;
    }
  }
  if (digits == 0 || points > 1) return false;
  const double v = std::strtod(std::string(text).c_str(), nullptr);
  if (!(v >= min && v <= max)) return false;
  *value = v;
  return true;
}

std::function<std::string(const std::string&)> StoreFlag(bool* field, bool to) {
  return [field, to](const std::string&) {
    *field = to;
    return std::string();
  };
}

namespace {
Option Flag(const char* name, char short_name, bool* field, const char* help) {
  return {name, short_name, nullptr, StoreFlag(field), nullptr, help};
}
}  // namespace

Option QuietOption(bool* quiet, const char* help) { return Flag("quiet", 'q', quiet, help); }
Option JsonOption(bool* json, const char* help) { return Flag("json", 0, json, help); }
Option VerboseOption(bool* verbose, const char* help) {
  return Flag("verbose", 'v', verbose, help);
}

Option WithChoices(Option option, std::vector<Choice> choices,
                   std::function<std::string(size_t index, const std::string& word)> chosen) {
  const std::string refusal = std::string("--") + option.name + " takes " + option.value;
  option.set = [words = choices, refusal, chosen](const std::string& word) {
    for (size_t i = 0; i < words.size(); ++i) {
      if (word == words[i].word) return chosen(i, word);
    }
    return refusal + ", not '" + word + "'";
  };
  option.choices = std::move(choices);
  return option;
}

namespace {

// text's lines, each after indent and the first after first instead.
std::string Indented(const std::string& first, size_t indent, std::string_view text) {
  std::string lines = first;
  for (size_t start = 0; start <= text.size();) {
    const size_t end = std::min(text.find('\n', start), text.size());
    if (start > 0) lines.append(indent, ' ');
    lines.append(text.substr(start, end - start)).append("\n");
    start = end + 1;
  }
  return lines;
}

// "  -o, --output DIR", then spaces up to column, or one.
std::string Spelling(const char* name, char short_name, const char* placeholder, size_t column) {
  std::string spelling = "  ";
  if (short_name != 0) spelling.append({'-', short_name, ',', ' '});
  spelling.append("--").append(name);
  if (placeholder != nullptr) spelling.append(" ").append(placeholder);
  spelling.resize(std::max(column, spelling.size() + 1), ' ');
  return spelling;
}

}  // namespace

std::string HelpText(const char* head, const std::vector<Option>& options,
                     const OptionListStyle& style, const char* tail) {
  const size_t column = static_cast<size_t>(style.column);
  size_t word_width = 0;
  for (const Option& o : options) {
    for (const Choice& c : o.choices) word_width = std::max(word_width, std::strlen(c.word) + 2);
  }
  std::string text = head;
  for (const Option& o : options) {
    if (o.help == nullptr) continue;
    text += Indented(Spelling(o.name, o.short_name, o.placeholder, column), column, o.help);
    for (const Choice& c : o.choices) {
      std::string word = std::string(column + 2, ' ') + c.word;
      word.resize(column + 2 + word_width, ' ');
      text += Indented(word, column + 2 + word_width, c.help);
    }
  }
  text += Indented(Spelling("help", 'h', nullptr, column), column, style.help_entry);
  return text + tail;
}

int UsageError(std::FILE* err, const std::string& name, const std::string& message) {
  Tell(err, "trackloom " + name + ": " + message + " (see 'trackloom " + name + " --help')");
  return kUsageErrorStatus;
}

CommandLine ReadCommandLine(int argc, char** argv, const std::vector<Option>& options,
                            const std::string& help, std::FILE* out, std::FILE* err) {
  CommandLine line;
  const std::string name = argc > 0 ? argv[0] : "";
  auto fail = [&](const std::string& message) {
    line.exit_status = UsageError(err, name, message);
    return line;
  };
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_done || arg.size() < 2 || arg[0] != '-') {
      line.operands.push_back(arg);
      continue;
    }
    if (arg == "--") {
      options_done = true;
      continue;
    }
    if (arg == "-h" || arg == "--help") {
      std::fputs(help.c_str(), out);
      line.exit_status = 0;
      return line;
    }
    const Word w = Recognise(options, arg);
    if (w.option == nullptr) return fail("unknown option '" + arg + "'");
    std::string value;
    if (w.option->value == nullptr) {
      if (w.attached) return fail(w.spelled + " takes no value");
    } else if (w.attached) {
      value = *w.attached;
    } else if (i + 1 < argc) {
      value = argv[++i];
    }
    // An empty value is as good as none: no option has a use for one.
    if (w.option->value != nullptr && value.empty())
      return fail(w.spelled + " needs " + w.option->value);
    const std::string problem = w.option->set(value);
    if (!problem.empty()) return fail(problem);
  }
  return line;
}

}  // namespace trackloom::cli
