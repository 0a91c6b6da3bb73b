// The terminal form of the configuration dialog, driven through a pseudo-terminal as
// a person would drive it: typing, Tab, Enter, Esc, Ctrl-C, end of input.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/instance_state.h"
#include "core/track_list.h"
#include "host/filter_configure.h"
#include "tests/support/temp_dir.h"
#include "tests/support/terminal.h"

namespace trackloom {
namespace {

using testing::TempDir;

// Ctrl-U empties the line libedit put the current value into.
constexpr char kClearLine[] = "\x15";
constexpr char kEsc[] = "\x1b";
constexpr char kCtrlC[] = "\x03";
constexpr char kCtrlD[] = "\x04";

struct Settings {
  std::string audio;
  std::string directory;
  std::string frames;  // ";"-separated, as the script string has them
};

struct Outcome {
  int result = -2;
  Settings settings;
  std::string screen;  // everything the editor wrote to the terminal
  // The settings record before and after, byte for byte, so that a cancel can be
  // shown to leave every byte as it was.
  std::vector<uint8_t> before, after;
};

std::vector<uint8_t> BytesOf(const InstanceState& state) {
  const auto* p = reinterpret_cast<const uint8_t*>(&state);
  return std::vector<uint8_t>(p, p + sizeof state);
}

void Fill(InstanceState& state, const Settings& s) {
  std::memset(&state, 0, sizeof state);
  std::strncpy(state.audio_path, s.audio.c_str(), kPathCapacity - 1);
  std::strncpy(state.output_directory, s.directory.c_str(), kPathCapacity - 1);
  ParseTrackList(state, s.frames.c_str());
  // An entry after the terminator must survive: the parser never touches it.
  int count = 0;
  while (state.track_list[count] != 0) ++count;
  if (count < kMaxBreakFrames - 1) state.track_list[kMaxBreakFrames - 1] = 0x5a5a;
}

void WriteAll(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n <= 0) return;
    p += n;
    size -= static_cast<size_t>(n);
  }
}

bool ReadAll(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  while (size > 0) {
    ssize_t n = read(fd, p, size);
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Opens the dialog in a child process whose controlling terminal is a fresh
// pseudo-terminal, types each chunk of keys after the editor has gone quiet, and
// collects the result and the settings record through a pipe.
Outcome RunOnTerminal(const Settings& initial, const std::vector<std::string>& keys) {
  Outcome outcome;
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return outcome;
  const trackloom::testing::TerminalRun run = trackloom::testing::RunOnTerminal(
      [&] {
        close(pipe_fds[0]);
        auto state = std::make_unique<InstanceState>();
        Fill(*state, initial);
        std::vector<uint8_t> before = BytesOf(*state);
        HostContext context{};
        context.instance = state.get();
        int result = FilterConfigure(&context, nullptr, nullptr);
        std::vector<uint8_t> after = BytesOf(*state);
        WriteAll(pipe_fds[1], &result, sizeof result);
        WriteAll(pipe_fds[1], before.data(), before.size());
        WriteAll(pipe_fds[1], after.data(), after.size());
      },
      keys);
  close(pipe_fds[1]);
  outcome.screen = run.screen;

  InstanceState dummy;
  outcome.before.resize(sizeof dummy);
  outcome.after.resize(sizeof dummy);
  if (ReadAll(pipe_fds[0], &outcome.result, sizeof outcome.result) &&
      ReadAll(pipe_fds[0], outcome.before.data(), outcome.before.size()) &&
      ReadAll(pipe_fds[0], outcome.after.data(), outcome.after.size())) {
    auto state = std::make_unique<InstanceState>();
    std::memcpy(state.get(), outcome.after.data(), sizeof *state);
    outcome.settings.audio = state->audio_path;
    outcome.settings.directory = state->output_directory;
    char frames[kTrackListTextCapacity];
    FormatTrackList(*state, frames, ";");
    outcome.settings.frames = frames;
  }
  close(pipe_fds[0]);
  return outcome;
}

std::string Repeat(char c, size_t n) { return std::string(n, c); }

TEST(TerminalDialog, ConfirmingAndCancelling) {
  TempDir dir;
  mkdir((dir.path() + "/music").c_str(), 0755);
  mkdir((dir.path() + "/mixes").c_str(), 0755);
  mkdir((dir.path() + "/output").c_str(), 0755);
  trackloom::testing::WriteFileBytes(dir.path() + "/music/tone.wav", {1});
  trackloom::testing::WriteFileBytes(dir.path() + "/music/theme.wav", {1});
  const std::string d = dir.path();
  const Settings start{"/old/a.wav", "/old/out", "300;100;200;200"};
  const std::string long_path = "/" + Repeat('p', 300);

  struct Case {
    const char* name;
    Settings initial;
    std::vector<std::string> keys;
    int result;
    Settings expected;
    const char* shown = "";  // text the editor must have written
  };
  const Case cases[] = {
      {"Enter everywhere keeps every value, duplicates and order included",
       start, {"\r", "\r", "\r", "\r", "\r", "\r", "\r", "\r"}, 0, {"/old/a.wav", "/old/out", "100;200;200;300"}},
      {"typed values replace the old ones; frames are sorted",
       start,
       {std::string(kClearLine) + "/new/b.wav\r", std::string(kClearLine) + "/new/dir\r",
        "\r", std::string(kClearLine) + "\r", "\r", "\r", "50\r", "\r", "\r"},
       0, {"/new/b.wav", "/new/dir", "50;100;200;300"}},
      {"a break-frame line that is not one storable number is refused whole",
       start, {"\r", "\r", "\r", "\r", "\r", "\r", "30, 60\r", std::string(kClearLine) + "2147483648\r",
               std::string(kClearLine) + "78\r", "\r", "ok\r"}, 0,
       {"/old/a.wav", "/old/out", "78;100;200;200;300"}, "'2147483648' is not"},
      {"Tab completes a file and a folder",
       Settings{},
       {d + "/music/to\t\r", d + "/ou\t\r", "\r", "\r"}, 0,
       {d + "/music/tone.wav", d + "/output/", ""}},
      {"Tab on an ambiguous start completes what the choices share",
       Settings{},
       {d + "/m\t\r", d + "/music/t\t\t\r", "\r", "\r"}, 0,
       {d + "/m", d + "/music/t", ""}, "  mixes/\r\n  music/\r\n"},
      {"a path over 259 characters is refused and can be shortened",
       start,
       {std::string(kClearLine) + long_path + "\r",
        std::string(kClearLine) + Repeat('q', 259) + "\r", "\r", "\r", "\r", "\r", "\r", "\r", "\r"},
       0, {Repeat('q', 259), "/old/out", "100;200;200;300"}, "has 301 characters; at most 259 fit"},
      {"a break-frame line that would pass 1023 characters is refused",
       Settings{},
       {"\r", "\r", Repeat('0', 500) + "1\r", Repeat('0', 500) + "2\r",
        Repeat('0', 30) + "3\r", std::string(kClearLine) + "7\r", "\r", "\r"},
       0, {"", "", "1;2;7"}, "would pass 1023 characters"},
      {"paths outside ASCII come back byte for byte",
       Settings{"/m\xc3\xbasica/\xc3\x9f.wav", "/caf\xe9", "1"},
       {"\r", "\r", "\r", "\r", "\r"}, 0,
       {"/m\xc3\xbasica/\xc3\x9f.wav", "/caf\xe9", "1"}},
      {"a path that cannot be shown is replaced by typing a new one",
       Settings{"/caf\xe9.wav", "", ""},
       {"/new.wav\r", "\r", "\r", "\r"}, 0, {"/new.wav", "", ""}},
      {"Esc at the first box cancels", start, {kEsc}, 1, start},
      {"Esc after editing every setting cancels",
       start,
       {std::string(kClearLine) + "/x.wav\r", std::string(kClearLine) + "/y\r",
        std::string(kClearLine) + "\r", "\r", "\r", "\r", "9\r", "\r", kEsc},
       1, start},
      {"answering Cancel cancels",
       start, {std::string(kClearLine) + "/x.wav\r", "\r", "\r", "\r", "\r", "\r", "\r", "cancel\r"}, 1, start},
      {"Ctrl-C cancels", start, {"/typed", kCtrlC}, 1, start},
      {"Ctrl-D on an empty line cancels", start, {std::string(kClearLine) + kCtrlD}, 1, start},
      {"the terminal closing cancels", start, {std::string(kClearLine) + "/half"}, 1, start},
      {"arrow keys edit rather than cancel",
       start, {"\x1b[D\x1b[D\x1b[D\x1b[DX\r", "\r", "\r", "\r", "\r", "\r", "\r", "\r"}, 0,
       {"/old/aX.wav", "/old/out", "100;200;200;300"}},
  };

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // The record's "before" bytes come from the child, where Fill ran.
    Outcome o = RunOnTerminal(c.initial, c.keys);
    ASSERT_EQ(o.result, c.result) << o.screen;
    Settings expected = c.expected;
    if (c.result == 1) {
      EXPECT_EQ(o.after, o.before) << "a cancel changed the record";
      // The cancelled record still holds the initial settings.
      InstanceState original;
      Fill(original, c.initial);
      char frames[kTrackListTextCapacity];
      FormatTrackList(original, frames, ";");
      expected = {original.audio_path, original.output_directory, frames};
    }
    EXPECT_EQ(o.settings.audio, expected.audio) << o.screen;
    EXPECT_EQ(o.settings.directory, expected.directory);
    EXPECT_EQ(o.settings.frames, expected.frames);
    EXPECT_NE(o.screen.find(c.shown), std::string::npos) << o.screen;
  }
}

TEST(TerminalDialog, ShowsCurrentValuesAndSixtyFramesOnePerLine) {
  Settings start{"/in/song.wav", "/out/here", ""};
  std::string sixty;
  for (int i = 1; i <= 60; ++i) sixty += std::to_string(i * 18) + ";";
  start.frames = sixty;
  // 60 lines as they are, then OK: the list comes back unchanged, and no 61st line
  // is asked for.
  std::vector<std::string> keys = {"\r", "\r"};
  for (int i = 0; i < 60; ++i) keys.push_back("\r");
  keys.push_back("\r");
  Outcome o = RunOnTerminal(start, keys);
  ASSERT_EQ(o.result, 0) << o.screen;
  sixty.pop_back();
  EXPECT_EQ(o.settings.frames, sixty);
  EXPECT_NE(o.screen.find("/in/song.wav"), std::string::npos);
  EXPECT_NE(o.screen.find("/out/here"), std::string::npos);
  EXPECT_NE(o.screen.find("  60: "), std::string::npos);
  EXPECT_EQ(o.screen.find("  61: "), std::string::npos);
  EXPECT_NE(o.screen.find("1080"), std::string::npos);  // the 60th frame
  EXPECT_NE(o.screen.find("EXISTING FILES WILL BE OVERWRITTEN"), std::string::npos);
}

TEST(TerminalDialog, NoTerminalMeansNoDialog) {
  int pipe_fds[2];
  ASSERT_EQ(pipe(pipe_fds), 0);
  pid_t child = fork();
  if (child == 0) {
    close(pipe_fds[0]);
    setsid();  // a new session has no controlling terminal
    auto state = std::make_unique<InstanceState>();
    std::memset(state.get(), 0, sizeof *state);
    std::strcpy(state->audio_path, "/kept.wav");
    HostContext context{};
    context.instance = state.get();
    int result = FilterConfigure(&context, nullptr, nullptr);
    bool kept = std::strcmp(state->audio_path, "/kept.wav") == 0;
    WriteAll(pipe_fds[1], &result, sizeof result);
    WriteAll(pipe_fds[1], &kept, sizeof kept);
    _exit(0);
  }
  close(pipe_fds[1]);
  int result = 0;
  bool kept = false;
  EXPECT_TRUE(ReadAll(pipe_fds[0], &result, sizeof result));
  EXPECT_TRUE(ReadAll(pipe_fds[0], &kept, sizeof kept));
  close(pipe_fds[0]);
  waitpid(child, nullptr, 0);
  EXPECT_EQ(result, -1);
  EXPECT_TRUE(kept);

  HostContext empty{};
  EXPECT_EQ(FilterConfigure(&empty, nullptr, nullptr), -1);
}

}  // namespace
}  // namespace trackloom
