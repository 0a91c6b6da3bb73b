// Runs the trackloom command (and ffmpeg, for test clips) as a child process and
// reads the track files it leaves.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace trackloom::testing {

struct CommandResult {
  int status = -1;  // exit status, or 128 + signal when killed
  std::string out;
  std::string err;
};

struct RunOptions {
  std::string stdin_path = "/dev/null";
  // stdin_path's bytes come through a pipe, as from another program, not as a file.
  bool stdin_piped = false;
  // When not zero, the child may not grow any file past this many bytes (ulimit -f),
  // with the signal that ends a process there left as it is; the command ignores it,
  // so a write past the limit fails (EFBIG): a full disk, as far as a writer can tell.
  uint64_t file_size_limit = 0;
  // Start the child in a session of its own, without a controlling terminal.
  bool new_session = false;
  // When not zero, timeout(1) ends the child after this many seconds: only a guard
  // against a command that hangs, never a measure of speed.
  int timeout_seconds = 0;
};

// argv[0] is looked up on PATH.
CommandResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options = {});
// The trackloom command built with these tests, or the one TRACKLOOM_TEST_BINARY names.
std::string TrackloomBinary();
// True when that command is a Windows program (run under wine): the tests that depend on
// POSIX behaviour skip themselves there.
bool TrackloomIsWindows();
// For a table's row that cannot hold for trackloom.exe under wine: true (and the reason
// said in the test's output) when the command is the exe and the row is in why_not.
bool SkipRowOnWindows(const std::map<std::string, std::string>& why_not, const std::string& row);
// The trackloom command built with these tests.
CommandResult RunTrackloom(const std::vector<std::string>& args, const RunOptions& options = {});

// Starts the command without waiting; output goes to files in out_dir.
pid_t StartTrackloom(const std::vector<std::string>& args, const std::string& out_dir);
CommandResult WaitFor(pid_t pid, const std::string& out_dir);
// The process of the command StartTrackloom started: under wine, trackloom.exe's own,
// which start.exe runs apart from itself.
pid_t TrackloomProcess(pid_t pid);
// Sends a signal to a command StartTrackloom started: under wine, to trackloom.exe's own
// process, where SIGINT arrives as Ctrl-C.
void SignalTrackloom(pid_t pid, int signal_number);
// dir and name as the command joins them in what it prints: with the platform's separator.
std::string JoinedByCommand(const std::string& dir, const std::string& name);

// ffmpeg -v error -y ARGS; fails the test when ffmpeg fails.
void Ffmpeg(const std::vector<std::string>& args);

// One track file, parsed only as far as the tests need.
struct Track {
  std::vector<uint8_t> bytes;
  size_t records() const;
  const uint8_t* record(size_t index) const;
  // The 1960 audio slots of a record, in record order.
  std::vector<uint8_t> Sound(size_t index) const;
  // The 144 x 80 picture of a record as 4-bit components, [row][column][r,g,b].
  std::vector<uint8_t> PictureNibbles(size_t index) const;
};
Track ReadTrack(const std::string& path);

}  // namespace trackloom::testing
