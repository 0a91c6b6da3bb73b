// What the user reads that is not the same on Linux and on Windows: how a disc image
// is burnt and where the filter's dialog appears. Kept here, the one place with a
// platform branch for words, so that the commands' own texts read the same on both.
#pragma once

#include <string>

namespace trackloom::cli {

// disc --help's example: the image made from a folder of tracks, then burnt.
const char* DiscHelpExample();

// What follows a written disc image: how to burn it (every image, if several is
// true), base being the first image's path without its extension.
std::string BurnAdvice(const std::string& base, bool several);

// configure --help: where the dialog opens, as "(a window)".
const char* DialogPlace();

// The start of configure's refusal when the dialog cannot be shown.
const char* NoDialogReason();

}  // namespace trackloom::cli
