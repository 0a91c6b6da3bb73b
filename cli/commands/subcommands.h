// Every subcommand of the trackloom command. Each takes (argc, argv) with argv[0]
// its own name and returns the process exit status.
#pragma once

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
}  // namespace trackloom::cli

// The table main() dispatches from; a line is added with the command that needs it.
#define TRACKLOOM_SUBCOMMANDS                                                                      \
  {"encode", "Turn any video into track files", trackloom::cli::RunEncode},                        \
      {"demo", "Encode a generated test clip into ./demo-tracks", trackloom::cli::RunDemo},        \
      {"configure", "Edit saved filter settings in the filter's dialog",                           \
       trackloom::cli::RunConfigure},                                                              \
      {"inspect", "Check track files and report every problem with its byte offset",               \
       trackloom::cli::RunInspect},                                                                \
      {"decode", "Turn a track back into pictures (PNG), sound (WAV), a contact sheet or a video", \
       trackloom::cli::RunDecode},                                                                 \
      {"repair", "Mend tracks an encode never finished (killed, power cut): cut to whole records", \
       trackloom::cli::RunRepair},                                                                 \
      {"disc",                                                                                     \
       "Put track files on a disc image (BIN/CUE/TOC) to burn, in the order a player needs",       \
       trackloom::cli::RunDisc},                                                                   \
      {"play", "Play tracks in a window as the player shows them, with their sound",               \
       trackloom::cli::RunPlay},                                                                   \
      TRACKLOOM_RIP_SUBCOMMAND TRACKLOOM_STUDIO_SUBCOMMAND{"help", "Show this help", nullptr},

// rip where libcdio is built in, the studio where its web server is (not yet in the
// Windows command).
#ifdef TRACKLOOM_RIP
#define TRACKLOOM_RIP_SUBCOMMAND                                                        \
  {"rip", "Turn a disc (a drive or a disc image) back into video, one chapter a track", \
   trackloom::cli::RunRip},
#else
#define TRACKLOOM_RIP_SUBCOMMAND
#endif
#ifdef TRACKLOOM_STUDIO
#define TRACKLOOM_STUDIO_SUBCOMMAND                                                     \
  {"studio", "Make a disc in a window: a page in your browser, served by this command", \
   trackloom::cli::RunStudio},
#else
#define TRACKLOOM_STUDIO_SUBCOMMAND
#endif
