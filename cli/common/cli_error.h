// The one exception the command's own code throws: its text is the single line the
// user sees on stderr, after "trackloom: ".
#pragma once

#include <stdexcept>

namespace trackloom::cli {

struct CliError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// A value the command line gave that turns out wrong only once the input is open (a
// time past the last frame number the filter can count): reported as a usage error.
struct BadOptionError : CliError {
  using CliError::CliError;
};

}  // namespace trackloom::cli
