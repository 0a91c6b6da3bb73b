// The inspect and decode subcommands with their output streams passed in, so that
// tests can run them as a user would and read what they print.
#pragma once

#include <cstdio>

namespace trackloom::cli {

int InspectMain(int argc, char** argv, std::FILE* out, std::FILE* err);
int DecodeMain(int argc, char** argv, std::FILE* out, std::FILE* err);
int RepairMain(int argc, char** argv, std::FILE* out, std::FILE* err);

}  // namespace trackloom::cli
