#include "cli/common/platform_text.h"

#include "cli/common/messages.h"

namespace trackloom::cli {

#ifdef _WIN32

const char* DiscHelpExample() {
  return "  trackloom disc -o cartoon --first first.wav tracks\\*.wav\n"
         "  then burn cartoon.cue disc-at-once with a burning program (ImgBurn: Write image\n"
         "  file to disc).\n";
}

// Windows users burn with a burning program; its cue sheet is what they open.
std::string BurnAdvice(const std::string& base, bool several) {
  return Format(
      "Burn %s disc-at-once on a CD-R (CD-RW discs are reported not to play): open\n"
      "\"%s\" in a burning program (in ImgBurn: Write image file to disc) and choose\n"
      "disc-at-once (DAO/SAO) with no gaps between tracks.\n",
      several ? "each, one blank a disc," : "it", (Printable(base) + ".cue").c_str());
}

const char* DialogPlace() { return "(a window)"; }

const char* NoDialogReason() { return "the dialog could not be shown; without it, "; }

#else

const char* DiscHelpExample() {
  return "  trackloom disc -o cartoon --first first.wav tracks/*.wav\n"
         "  cdrdao write --device /dev/sr0 cartoon.toc\n";
}

std::string BurnAdvice(const std::string& base, bool several) {
  const std::string first = Printable(ShellWord(base));
  return Format(
      "Burn %s disc-at-once on a CD-R (CD-RW discs are reported not to play):\n"
      "  cdrdao write --device /dev/sr0 %s.toc\n"
      "(the device is what 'cdrdao scanbus' lists), or open %s.cue in another burning\n"
      "program and choose disc-at-once (DAO/SAO) with no gaps between tracks.\n",
      several ? "each, one blank a disc," : "it", first.c_str(), first.c_str());
}

const char* DialogPlace() { return "(on a terminal here)"; }

const char* NoDialogReason() {
  return "configure needs a terminal to show the dialog on, and there is none; without one, ";
}

#endif

}  // namespace trackloom::cli
