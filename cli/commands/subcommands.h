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
  // What a stop the command does not word itself leaves, as the user is told.
  const char* stopped = "interrupted";
};

// The table main() dispatches from, in the order --help lists it; a line is added with
// the command that needs it.
std::span<const Subcommand> Subcommands();

// Runs the subcommand and turns what it throws into its exit status, said on stderr:
// a stop (Stopped, or a failure while a stop was asked for, which is most likely the
// stop itself) 128 + the signal, a value the input showed wrong (BadOptionError) 2,
// any other failure 1.
int RunGuarded(const Subcommand& command, int argc, char** argv);

}  // namespace trackloom::cli
