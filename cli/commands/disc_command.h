// `trackloom disc`: track files into a disc image a CD writer burns as the player
// needs it (first track, the user's tracks, an end track, silent padding; disc-at-once,
// no gaps): NAME.bin with NAME.cue for any burning program, NAME.toc for cdrdao.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "cli/tracks/disc_plan.h"

namespace trackloom::cli {

// Parses the options after the subcommand's name: -1 to go on, otherwise the exit
// status (0 after --help, 2 after a wrong option, with one line on err).
int ParseDiscOptions(int argc, char** argv, DiscOptions& options, std::FILE* out, std::FILE* err);

// Reads --capacity: whole minutes from 1 to 100; the refusal's text, or "".
std::string SetCapacity(const std::string& value, double& minutes);

// Checks everything, writes the image (the images, with --split) and prints the
// summary on out; the exit status.
// Installs no signal handlers: the caller does.
int MakeDisc(const DiscOptions& options, std::FILE* out, std::FILE* err);

}  // namespace trackloom::cli
