// The one exception the command's own code throws: its text is the single line the
// user sees on stderr, after "trackloom: ".
#pragma once

#include <stdexcept>

namespace trackloom::cli {

struct CliError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace trackloom::cli
