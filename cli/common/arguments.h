// The one command-line reader every subcommand uses: a table of options, each with
// what to do with its value, read the same way everywhere. The same table says how
// the help lists each option, so the help's option list is made from it.
//
//   --name value   --name=value   -n value   -nvalue   (options that take a value)
//   --name         -n                                   (options that do not)
//   --             everything after it is an operand, even when it begins with '-'
//   -              an operand (standard input or output, where a subcommand allows it)
//   -h, --help     the subcommand's help on standard output, exit status 0
//
// An empty value counts as a missing one. A usage error prints one line, "trackloom NAME: what is
// wrong (see 'trackloom NAME
// --help')", and gives exit status 2.
#pragma once

#include <cstddef>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace trackloom::cli {

inline constexpr int kUsageErrorStatus = 2;

// One of the words an option of a few fixed values takes, as its help lists it.
struct Choice {
  const char* word;
  const char* help;  // what it means, one line or several separated by '\n'
};

struct Option {
  const char* name;  // the long form, without its dashes
  char short_name;   // 0: none
  // What the value is ("a directory", for "-o needs a directory"); null for an
  // option that takes no value.
  const char* value;
  // Takes the value (empty for an option without one) and returns what is wrong
  // with it, or an empty string when it is accepted.
  std::function<std::string(const std::string& value)> set;
  // What the help's option list shows: the value as its placeholder ("DIR", "MODE")
  // and, right of it, what the option does, one line or several separated by '\n'.
  // An option without help text is left out of the list.
  const char* placeholder = nullptr;
  const char* help = nullptr;
  // The words of an option of a few fixed values, listed under its help text.
  std::vector<Choice> choices = {};
};

struct CommandLine {
  std::vector<std::string> operands;
  // Set when the subcommand must not run: 0 after --help, kUsageErrorStatus after
  // a usage error (already reported).
  std::optional<int> exit_status;
};

// Reads argv[1] .. argv[argc - 1]; argv[0] is the subcommand's name.
CommandLine ReadCommandLine(int argc, char** argv, const std::vector<Option>& options,
                            const std::string& help, std::FILE* out, std::FILE* err);

// How a help lays out its option list.
struct OptionListStyle {
  int column;              // where every option's help text starts
  const char* help_entry;  // what the list's last line, -h and --help, says they do
};

// A subcommand's help: head, down to the heading of its option list; the list, each
// option with help text in the table's order, "-h, --help" last; then tail. An
// option's help text starts at style.column, or a space after a longer option; its
// choices follow, two columns further in, their help texts in one column across the
// whole list.
std::string HelpText(const char* head, const std::vector<Option>& options,
                     const OptionListStyle& style, const char* tail);

// The option with these choices: its value must be one of their words, whose place
// among them goes to chosen (which may still refuse it, as set may). Any other word
// is refused as "--NAME takes VALUE, not 'WORD'", VALUE being the option's value
// ("letterbox, crop or stretch"), which also says what a missing value should be.
Option WithChoices(Option option, std::vector<Choice> choices,
                   std::function<std::string(size_t index, const std::string& word)> chosen);

// A word of an option of a few fixed values, the value it stands for and its help.
template <class Enum>
struct Named {
  const char* word;
  Enum value;
  const char* help;
};

// The option whose value is one of the words named, stored as the value it stands
// for in *field; then, when given, is called with the word after that.
template <class Enum>
Option Choose(Option option, Enum* field, const std::vector<Named<Enum>>& names,
              std::function<std::string(const std::string& word)> then = nullptr) {
  std::vector<Choice> choices;
  std::vector<Enum> values;
  for (const Named<Enum>& n : names) {
    choices.push_back({n.word, n.help});
    values.push_back(n.value);
  }
  return WithChoices(std::move(option), std::move(choices),
                     [field, values, then](size_t index, const std::string& word) {
                       *field = values[index];
                       return then ? then(word) : std::string();
                     });
}

// A whole number from min to max in decimal digits and nothing else; false otherwise
// (value unchanged).
bool ParseWholeNumber(std::string_view text, int min, int max, int* value);

// A number of decimal digits with at most one '.' among them ("80", "0.5", "74.")
// from min to max; no sign, no exponent. false otherwise (value unchanged). Every
// option that takes a fractional number reads it this way.
bool ParseDecimal(std::string_view text, double min, double max, double* value);

// The set of an option without a value that stores to in *field.
std::function<std::string(const std::string&)> StoreFlag(bool* field, bool to = true);
// The set of an option whose value is kept as given, in a std::string or a
// std::optional<std::string>.
template <class Field>
std::function<std::string(const std::string&)> StoreValue(Field* field) {
  return [field](const std::string& value) {
    *field = value;
    return std::string();
  };
}

// The flags that mean the same in every subcommand that has them, each with the
// help text its subcommand gives it (none where its help lists no options).
// -q, --quiet: no progress, notes or summary; errors only
Option QuietOption(bool* quiet, const char* help = nullptr);
// --json: a machine-readable summary on standard output
Option JsonOption(bool* json, const char* help = nullptr);
// -v, --verbose: FFmpeg's own warnings too
Option VerboseOption(bool* verbose, const char* help = nullptr);

// Reports a usage error of the subcommand name on err and returns kUsageErrorStatus.
int UsageError(std::FILE* err, const std::string& name, const std::string& message);

}  // namespace trackloom::cli
