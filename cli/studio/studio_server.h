// trackloom studio's web server: the page and its API on 127.0.0.1, behind the
// request guard, until Ctrl-C or the page's Quit.
#pragma once

#include <cstdio>
#include <string>

namespace trackloom::cli::studio {

struct StudioOptions {
  std::string folder;  // the project folder
  int port = 0;        // 0: any free one
  bool open_browser = true;
};

// Serves until asked to stop; the exit status.
int RunStudioServer(const StudioOptions& options, std::FILE* out, std::FILE* err);

}  // namespace trackloom::cli::studio
