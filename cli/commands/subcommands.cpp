#include "cli/commands/subcommands.h"

namespace trackloom::cli {

namespace {

constexpr Subcommand kSubcommands[] = {
    {"encode", "Turn any video into track files", RunEncode},
    {"demo", "Encode a generated test clip into ./demo-tracks", RunDemo},
    {"configure", "Edit saved filter settings in the filter's dialog", RunConfigure},
    {"inspect", "Check track files and report every problem with its byte offset", RunInspect},
    {"decode", "Turn a track back into pictures (PNG), sound (WAV), a contact sheet or a video",
     RunDecode},
    {"repair", "Mend tracks an encode never finished (killed, power cut): cut to whole records",
     RunRepair},
    {"disc", "Put track files on a disc image (BIN/CUE/TOC) to burn, in the order a player needs",
     RunDisc},
    {"play", "Play tracks in a window as the player shows them, with their sound", RunPlay},
// rip where libcdio is built in, the studio where its web server is.
#ifdef TRACKLOOM_RIP
    {"rip", "Turn a disc (a drive or a disc image) back into video, one chapter a track", RunRip},
#endif
#ifdef TRACKLOOM_STUDIO
    {"studio", "Make a disc in a window: a page in your browser, served by this command",
     RunStudio},
#endif
    {"help", "Show this help", nullptr},
};

}  // namespace

std::span<const Subcommand> Subcommands() { return kSubcommands; }

}  // namespace trackloom::cli
