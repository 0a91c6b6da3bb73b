// trackloom: turns video into track files for VideoNow Color players.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cli/commands/subcommands.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/ffmpeg/ffmpeg_log.h"
#include "trackloom_version.h"

namespace {

using trackloom::cli::Subcommand;
using trackloom::cli::Subcommands;

void PrintUsage(FILE* out) {
  std::fprintf(out,
               "Usage: trackloom <command> [options]\n\n"
               "Turns video into track files for VideoNow Color players.\n\nCommands:\n");
  for (const Subcommand& s : Subcommands()) std::fprintf(out, "  %-10s %s\n", s.name, s.summary);
  std::fprintf(out,
               "\nRun 'trackloom <command> --help' (or 'trackloom help <command>') for the\n"
               "options of a command, "
               "'trackloom --version' for the version.\n"
               "Start with 'trackloom demo', or: trackloom encode film.mp4 -o tracks\n");
}

}  // namespace

#ifdef _WIN32
// Windows' shells hand "tracks\*.wav" over as it was typed: the C runtime expands it
// into the names it matches before main(), as Windows programs do.
extern "C" {
int _dowildcard = -1;
}
#endif

int main(int argc, char** argv) {
  trackloom::cli::EndWithParent();
  // FFmpeg says nothing of its own unless a command asks (encode --verbose).
  trackloom::cli::ffmpeg::RouteFfmpegLog(stderr, trackloom::cli::ffmpeg::FfmpegLog::kQuiet);
  trackloom::cli::UseUtf8Console();
  trackloom::cli::ReadStandardInputAsBytes();
  // Past a file-size limit (ulimit -f) the system would end the process at once,
  // leaving the open track unfinished; ignored, the write fails with EFBIG and is
  // handled like a full disk.
#ifdef SIGXFSZ
  std::signal(SIGXFSZ, SIG_IGN);
#endif
  if (argc < 2) {
    PrintUsage(stderr);
    return 2;
  }
  std::string_view command = argv[1];
  if (command == "help" && argc > 2) {
    // "trackloom help encode" is "trackloom encode --help".
    for (const Subcommand& s : Subcommands()) {
      if (s.run != nullptr && std::string_view(argv[2]) == s.name) {
        char help_flag[] = "--help";
        char* words[] = {argv[2], help_flag, nullptr};
        return trackloom::cli::RunGuarded(s, 2, words);
      }
    }
    trackloom::cli::PrintError(
        stderr, "unknown command '" + std::string(argv[2]) + "' (see 'trackloom --help')");
    return 2;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    PrintUsage(stdout);
    return 0;
  }
  if (command == "--version" || command == "-V") {
    std::printf("trackloom %s\n", TRACKLOOM_VERSION);
    return 0;
  }
  for (const Subcommand& s : Subcommands()) {
    if (command == s.name) return trackloom::cli::RunGuarded(s, argc - 1, argv + 1);
  }
  trackloom::cli::PrintError(
      stderr, "unknown command '" + std::string(argv[1]) + "' (see 'trackloom --help')");
  return 2;
}
