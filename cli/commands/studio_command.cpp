// trackloom studio: making a disc in a window, for people who never open a
// terminal. The command serves a page on 127.0.0.1 and opens it in the user's
// browser; the work itself is done by the other subcommands.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/messages.h"
#include "cli/studio/studio_server.h"

namespace trackloom::cli {

namespace {

constexpr char kUsageHead[] =
    "Usage: trackloom studio [FOLDER] [--port N] [--no-browser]\n"
    "\n"
    "Makes a disc in a window: opens a page in your web browser where you add videos\n"
    "(pick them or drag them in), choose how each fits the screen, where its tracks\n"
    "break and how loud it plays, preview any moment as the player shows it, see how\n"
    "much of the blank the disc takes, make it, and watch the tracks it holds.\n"
    "FOLDER (default: the current one) is the project folder: the project is saved\n"
    "there as trackloom-project.json and reopened next time, videos dragged in are\n"
    "copied there, and the disc is written to FOLDER/disc. The first track, chosen\n"
    "once, is remembered for later projects ($XDG_CONFIG_HOME/trackloom/studio.json).\n"
    "\n"
    "The page is served by this command on 127.0.0.1 only, at an address with a\n"
    "secret key that only the opened browser gets; it needs no network.\n"
    "\n"
    "Options:\n";

constexpr char kUsageTail[] =
    "\n"
    "Ctrl-C or the page's Quit button stops it; a disc being made then stops after\n"
    "its current track, keeping the complete ones.\n"
    "Exit status: 0 stopped by Quit, 1 failed (one line on stderr says why), 2 bad\n"
    "options, 130 stopped by Ctrl-C.\n"
    "\n"
    "Example:\n"
    "  trackloom studio ~/Videos/cartoon-disc\n";

}  // namespace

int RunStudio(int argc, char** argv) {
  studio::StudioOptions options;
  bool no_browser = false;
  const std::vector<Option> table = {
      {"port", 0, "a port number",
       [&options](const std::string& value) {
         return ParseWholeNumber(value, 0, 65535, &options.port)
                    ? std::string()
                    : "--port takes a port number from 0 to 65535, not '" + value + "'";
       },
       "N", "listen on port N (default: any free port)"},
      {"no-browser", 0, nullptr, StoreFlag(&no_browser), nullptr,
       "do not open a browser; the address is the first line printed"},
  };
  const CommandLine line =
      ReadCommandLine(argc, argv, table, HelpText(kUsageHead, table, {18, "this help"}, kUsageTail),
                      stdout, stderr);
  if (line.exit_status) return *line.exit_status;
  if (line.operands.size() > 1) return UsageError(stderr, "studio", "give one project folder");
  if (!line.operands.empty()) options.folder = line.operands[0];
  options.open_browser = !no_browser;
  InstallInterruptHandlers();
  return studio::RunStudioServer(options, stdout, stderr);
}

}  // namespace trackloom::cli
