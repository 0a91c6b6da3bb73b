#include "cli/commands/subcommands.h"

#include <new>
#include <string>

#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/messages.h"
#include "runner/errors.h"

namespace trackloom::cli {

namespace {

constexpr Subcommand kSubcommands[] = {
    {"encode", "Turn any video into track files", RunEncode,
     "interrupted before any track was written"},
    {"demo", "Encode a generated test clip into ./demo-tracks", RunDemo},
    {"configure", "Edit saved filter settings in the filter's dialog", RunConfigure},
    {"inspect", "Check track files and report every problem with its byte offset", RunInspect},
    {"decode", "Turn a track back into pictures (PNG), sound (WAV), a contact sheet or a video",
     RunDecode},
    {"repair", "Mend tracks an encode never finished (killed, power cut): cut to whole records",
     RunRepair},
    {"disc", "Put track files on a disc image (BIN/CUE/TOC) to burn, in the order a player needs",
     RunDisc, "interrupted; no image was written"},
    {"play", "Play tracks in a window as the player shows them, with their sound", RunPlay},
// rip where libcdio is built in, the studio where its web server is.
#ifdef TRACKLOOM_RIP
    {"rip", "Turn a disc (a drive or a disc image) back into video, one chapter a track", RunRip,
     "interrupted; no video was written"},
#endif
#ifdef TRACKLOOM_STUDIO
    {"studio", "Make a disc in a window: a page in your browser, served by this command",
     RunStudio},
#endif
    {"help", "Show this help", nullptr},
};

}  // namespace

std::span<const Subcommand> Subcommands() { return kSubcommands; }

int RunGuarded(const Subcommand& command, int argc, char** argv) {
  const auto stopped = [&](const std::string& message) {
    PrintError(stderr, message.empty() ? command.stopped : message);
    return InterruptedExitStatus();
  };
  const auto failed = [&](const std::string& message) {
    if (StopRequested()) return stopped("");
    PrintError(stderr, message);
    return 1;
  };
  try {
    return command.run(argc, argv);
  } catch (const Stopped& e) {
    return stopped(e.message);
  } catch (const BadOptionError& e) {
    return UsageError(stderr, command.name, e.what());
  } catch (const CliError& e) {
    return failed(e.what());
  } catch (const runner::Error& e) {
    return failed(e.what());
  } catch (const std::bad_alloc&) {
    return failed("out of memory");
  }
}

}  // namespace trackloom::cli
