// `trackloom configure --settings FILE`: the filter's own configure callback on the
// settings saved in FILE; on OK the filter's script line is written back to FILE.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/common/platform_text.h"
#include "cli/encode/filter_session.h"

namespace trackloom::cli {
namespace {

// The help, with where the dialog opens on this system.
std::string ConfigureHelp() {
  return std::string(
             "Usage: trackloom configure --settings FILE\n"
             "\n"
             "Opens the filter's configuration dialog ") +
         DialogPlace() +
         " on the settings\n"
         "in FILE: the sound file, the output directory and the frames at which a new\n"
         "track begins. On OK the settings are written back to FILE as the filter's\n"
         "Config(...) line, which 'trackloom encode --settings FILE' reads; that line\n"
         "is all FILE holds afterwards. A FILE that does not exist yet starts from empty\n"
         "settings.\n"
         "\n"
         "Exit status: 0 done (saved), 1 failed (or cancelled; one line on stderr says\n"
         "why, and FILE is unchanged), 2 bad options.\n";
}

void WriteSettingsFile(const std::string& path, const std::string& line) {
  // Written beside the file and renamed over it, so a failure never leaves half a file.
  const std::string temp = path + ".tmp";
  {
    std::ofstream out(temp, std::ios::binary | std::ios::trunc);
    out << line << "\n";
    out.close();
    if (!out) {
      std::remove(temp.c_str());
      throw CliError("cannot write the settings file '" + path + "'");
    }
  }
  if (ReplaceName(temp.c_str(), path.c_str()) != 0) {
    const std::string reason = std::strerror(errno);
    std::remove(temp.c_str());
    throw CliError("cannot write the settings file '" + path + "': " + reason);
  }
}

}  // namespace

int RunConfigure(int argc, char** argv) {
  std::string settings;
  const std::vector<Option> table = {
      {"settings", 0, "a file", StoreValue(&settings)},
  };
  const CommandLine command_line =
      ReadCommandLine(argc, argv, table, ConfigureHelp(), stdout, stderr);
  if (command_line.exit_status) return *command_line.exit_status;
  if (!command_line.operands.empty()) {
    return UsageError(stderr, "configure", "unexpected '" + command_line.operands[0] + "'");
  }
  if (settings.empty()) return UsageError(stderr, "configure", "--settings FILE is required");
  encode::FilterSession host;
  // A file that does not exist yet starts from empty settings; any other reason
  // it cannot be read is said.
  if (access(settings.c_str(), F_OK) == 0 || errno != ENOENT) host.RunSettingsFile(settings);
  const int result = host.instance().Configure();
  if (result == -1) {
    throw CliError(std::string(NoDialogReason()) + "write the settings by hand: '" + settings +
                   "' holds one line like "
                   "Config(1, \"/music/song.wav\", \"/tracks\", \"100,250\")");
  }
  if (result != 0) {
    PrintError(stderr, "cancelled; '" + settings + "' is unchanged");
    return 1;
  }
  // The filter doubles backslashes but escapes nothing else, so a path holding a
  // double quote gives a line no editor can read back, and one holding a line break
  // (a settings file can set one with \n) gives two lines; either is refused rather
  // than saved broken.
  const std::string line = host.ScriptString();
  bool readable = line.find('\n') == std::string::npos;
  try {
    host.Settings();
  } catch (const CliError&) {
    readable = false;
  }
  if (!readable) {
    throw CliError(
        "cannot save these settings: a path holding a double quote (\") or a line break "
        "cannot be read back from a settings line; '" +
        settings + "' is unchanged");
  }
  WriteSettingsFile(settings, line);
  std::printf("Saved the settings to '%s'.\n", settings.c_str());
  return 0;
}

}  // namespace trackloom::cli
