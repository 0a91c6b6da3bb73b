// Every subcommand of the trackloom command. Each takes (argc, argv) with argv[0]
// its own name and returns the process exit status.
#pragma once

namespace trackloom::cli {
int RunEncode(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunConfigure(int argc, char** argv);
int RunInspect(int argc, char** argv);
int RunDecode(int argc, char** argv);
}  // namespace trackloom::cli

// The table main() dispatches from; a line is added with the command that needs it.
#define TRACKLOOM_SUBCOMMANDS \
  {"help", "Show this help", nullptr},
