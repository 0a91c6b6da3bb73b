// The one exception the command's own code throws: its text is the single line the
// user sees on stderr, after "trackloom: ".
#pragma once

#include <stdexcept>
#include <string>

namespace trackloom::cli {

struct CliError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// FFmpeg's text for one of its negative error codes.
std::string AvErrorText(int error);

}  // namespace trackloom::cli
