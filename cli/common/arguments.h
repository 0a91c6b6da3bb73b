// The one command-line reader every subcommand uses: a table of options, each with
// what to do with its value, read the same way everywhere.
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

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace trackloom::cli {

inline constexpr int kUsageErrorStatus = 2;

struct Option {
  const char* name;  // the long form, without its dashes
  char short_name;   // 0: none
  // What the value is ("a directory", for "-o needs a directory"); null for an
  // option that takes no value.
  const char* value;
  // Takes the value (empty for an option without one) and returns what is wrong
  // with it, or an empty string when it is accepted.
  std::function<std::string(const std::string& value)> set;
};

struct CommandLine {
  std::vector<std::string> operands;
  // Set when the subcommand must not run: 0 after --help, kUsageErrorStatus after
  // a usage error (already reported).
  std::optional<int> exit_status;
};

// Reads argv[1] .. argv[argc - 1]; argv[0] is the subcommand's name.
CommandLine ReadCommandLine(int argc, char** argv, const std::vector<Option>& options,
                            const char* help, std::FILE* out, std::FILE* err);

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

// The flags that mean the same in every subcommand that has them.
Option QuietOption(bool* quiet);      // -q, --quiet: no progress, notes or summary; errors only
Option JsonOption(bool* json);        // --json: a machine-readable summary on standard output
Option VerboseOption(bool* verbose);  // -v, --verbose: FFmpeg's own warnings too

// Reports a usage error of the subcommand name on err and returns kUsageErrorStatus.
int UsageError(std::FILE* err, const std::string& name, const std::string& message);

}  // namespace trackloom::cli
