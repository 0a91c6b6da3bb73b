// The one exception the command's own code throws: its text is the single line the
// user sees on stderr, after "trackloom: ".
#pragma once

#include <stdexcept>
#include <string>

namespace trackloom::cli {

struct CliError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A value the command line gave that turns out wrong only once the input is open (a
// time past the last frame number the filter can count): reported as a usage error.
struct BadOptionError : CliError {
  using CliError::CliError;
};

// Runs step for code that reports a failure as false and its message: a CliError step
// throws comes back as false, with its text in *error.
template <typename Step>
bool Attempt(const Step& step, std::string* error) {
  try {
    step();
    return true;
  } catch (const CliError& e) {
    *error = e.what();
    return false;
  }
}

}  // namespace trackloom::cli
