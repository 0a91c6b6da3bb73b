// Every subcommand of the trackloom command, in the one shape they all have: (argc,
// argv) with argv[0] its own name, returning the process exit status.
#pragma once

#include <span>

namespace trackloom::cli {

int RunEncode(int argc, char** argv);
int RunDemo(int argc, char** argv);
int RunConfigure(int argc, char** argv);
int RunInspect(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunDisc(int argc, char** argv);
int RunPlay(int argc, char** argv);
int RunRepair(int argc, char** argv);
int RunRip(int argc, char** argv);
int RunStudio(int argc, char** argv);

struct Subcommand {
  const char* name;
  const char* summary;
  int (*run)(int argc, char** argv);  // null for "help", which main answers itself
};

// The table main() dispatches from, in the order --help lists it; a line is added with
// the command that needs it.
std::span<const Subcommand> Subcommands();

}  // namespace trackloom::cli
