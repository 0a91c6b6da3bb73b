// trackloom configure: the filter's terminal dialog on a settings file, driven
// through a pseudo-terminal as a user would type.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <iterator>

#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal.h"

namespace trackloom::testing {
namespace {

constexpr char kEsc[] = "\x1b";

struct Outcome {
  int status = -1;
  std::string screen;
};

Outcome ConfigureOnTerminal(const std::string& settings, const std::vector<std::string>& keys,
                            const std::string& leak_suppressions) {
  Outcome outcome;
  const trackloom::testing::TerminalRun run = trackloom::testing::RunOnTerminal(
      [&] {
        setenv("LSAN_OPTIONS", ("suppressions=" + leak_suppressions).c_str(), 1);
        execl(TRACKLOOM_BINARY, TRACKLOOM_BINARY, "configure", "--settings", settings.c_str(), nullptr);
        _exit(127);
      },
      keys);
  outcome.screen = run.screen;
  outcome.status = run.wait_status >= 0 && WIFEXITED(run.wait_status) ? WEXITSTATUS(run.wait_status) : -1;
  return outcome;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(CliConfigure, EditsTheSettingsFileOnOkAndLeavesItOnCancel) {
  TempDir dir;
  // libedit copies the names of functions added with EL_ADDFN to wide strings that
  // el_end never frees; in a sanitizer build the command's exit would report them.
  std::ofstream(dir.File("lsan.supp")) << "leak:wcsdup\n";
  const std::string saved = "VirtualDub.video.filters.instance[0].Config(1,\"/a.wav\",\"/out\",\"200;100\");\n";
  const std::string broken = "Config(1,\"/a\\nb.wav\",\"/out\",\"200;100\")\n";
  struct Case {
    const char* name;
    const char* initial;  // null: no file yet
    std::vector<std::string> keys;
    int status;
    std::string expected;  // the file afterwards
    const char* says = nullptr;  // words of the refusal, when it is refused
  };
  const Case cases[] = {
      // Keep both paths and both frames, add 50, end the list, OK.
      {"add", saved.c_str(), {"\r", "\r", "\r", "\r", "50\r", "\r", "\r"}, 0,
       "Config(1,\"/a.wav\",\"/out\",\"50;100;200\")\n"},
      // Esc cancels: the file stays byte for byte.
      {"cancel", saved.c_str(), {"\r", kEsc}, 1, saved},
      // No file yet: empty settings, typed in; backslashes are doubled in the line.
      {"new", nullptr, {"/s\\x.wav\r", "/t\r", "7\r", "\r", "\r"}, 0, "Config(1,\"/s\\\\x.wav\",\"/t\",\"7\")\n"},
      // The filter writes a quote in a path unescaped: refused, the file unchanged.
      {"quote", saved.c_str(), {"\"x\r", "\r", "\r", "\r", "\r", "\r"}, 1, saved, "double quote"},
      // A line break set with \n would split the saved line: refused too.
      {"line-break", broken.c_str(), {"\r", "\r", "\r", "\r", "\r", "\r"}, 1, broken, "line break"},
  };
  for (const Case& c : cases) {
    const std::string path = dir.File(std::string(c.name) + ".vcf");
    if (c.initial != nullptr) std::ofstream(path, std::ios::binary) << c.initial;
    const Outcome outcome = ConfigureOnTerminal(path, c.keys, dir.File("lsan.supp"));
    EXPECT_EQ(outcome.status, c.status) << c.name << "\n" << outcome.screen;
    EXPECT_EQ(ReadText(path), c.expected) << c.name;
    if (c.says != nullptr) {
      EXPECT_NE(outcome.screen.find(c.says), std::string::npos) << outcome.screen;
    }
    EXPECT_FALSE(FileExists(path + ".tmp")) << c.name;
  }
  // Without a terminal there is no dialog to show.
  RunOptions detached;
  detached.new_session = true;
  const CommandResult r = RunTrackloom({"configure", "--settings", dir.File("add.vcf")}, detached);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err.rfind("trackloom: configure needs a terminal", 0), 0u) << r.err;
  EXPECT_NE(r.err.find("write the settings by hand: '" + dir.File("add.vcf") + "' holds one line like Config("),
            std::string::npos) << r.err;
}

}  // namespace
}  // namespace trackloom::testing
