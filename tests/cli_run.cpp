#include "tests/cli_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <thread>

#include "cli/tracks/track_reader.h"
#include "core/track_format.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

constexpr size_t kFirstRecord = kFirstRecordOffset;
constexpr size_t kRecordBytes = kFrameRecordSize;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

pid_t Spawn(const std::vector<std::string>& argv, const RunOptions& options, const std::string& out_path,
            const std::string& err_path) {
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // Child: only async-signal-safe calls until exec.
  int in = open(options.stdin_path.c_str(), O_RDONLY);
  const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (in < 0 || out < 0 || err < 0) _exit(127);
  if (options.stdin_piped) {
    int ends[2];
    if (pipe(ends) != 0) _exit(127);
    if (fork() == 0) {
      // The feeder: the file into the pipe, as ffmpeg writing to standard output.
      close(ends[0]);
      char buffer[65536];
      for (ssize_t n; (n = read(in, buffer, sizeof buffer)) > 0;) {
        if (write(ends[1], buffer, static_cast<size_t>(n)) != n) break;
      }
      _exit(0);
    }
    close(ends[1]);
    in = ends[0];
  }
  dup2(in, 0);
  dup2(out, 1);
  dup2(err, 2);
  if (options.new_session) setsid();
  if (options.file_size_limit != 0) {
    struct rlimit limit {options.file_size_limit, options.file_size_limit};
    setrlimit(RLIMIT_FSIZE, &limit);
    signal(SIGXFSZ, SIG_DFL);  // as a shell leaves it: the command must ignore it itself
  }
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execvp(args[0], args.data());
  _exit(127);
}

int StatusOf(int wait_status) {
  if (WIFEXITED(wait_status)) return WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) return 128 + WTERMSIG(wait_status);
  return -1;
}

}  // namespace

CommandResult RunCommand(const std::vector<std::string>& argv, const RunOptions& options) {
  TempDir dir;
  std::vector<std::string> guarded;
  if (options.timeout_seconds != 0)
    guarded = {"timeout", "-k", "5", std::to_string(options.timeout_seconds)};
  guarded.insert(guarded.end(), argv.begin(), argv.end());
  const pid_t pid = Spawn(guarded, options, dir.File("out"), dir.File("err"));
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  return {StatusOf(wait_status), ReadText(dir.File("out")), ReadText(dir.File("err"))};
}

namespace {

// TRACKLOOM_TEST_WRAPPER, e.g. "valgrind -q --error-exitcode=99", runs every trackloom
// command of the tests under that program (words split at blanks).
std::vector<std::string> TrackloomArgv(const std::vector<std::string>& args) {
  std::vector<std::string> argv;
  if (const char* wrapper = std::getenv("TRACKLOOM_TEST_WRAPPER")) {
    std::istringstream words(wrapper);
    for (std::string word; words >> word;) argv.push_back(word);
  }
  argv.push_back(TrackloomBinary());
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

// TRACKLOOM_TEST_BINARY runs the same tests against another build of the command, such
// as trackloom.exe with TRACKLOOM_TEST_WRAPPER=scripts/wine-run.
std::string TrackloomBinary() {
  const char* other = std::getenv("TRACKLOOM_TEST_BINARY");
  return other != nullptr && *other != '\0' ? other : TRACKLOOM_BINARY;
}

bool TrackloomIsWindows() {
  const std::string binary = TrackloomBinary();
  return binary.size() > 4 && binary.compare(binary.size() - 4, 4, ".exe") == 0;
}

bool SkipRowOnWindows(const std::map<std::string, std::string>& why_not, const std::string& row) {
  const auto reason = why_not.find(row);
  if (!TrackloomIsWindows() || reason == why_not.end()) return false;
  std::printf("[  SKIPPED ROW ] %s: %s\n", row.c_str(), reason->second.c_str());
  return true;
}

namespace {

// A Windows program writes its text in text mode, each line ended by CR LF; the tests
// read lines as the Linux command ends them.
CommandResult AsLinuxText(CommandResult r) {
  if (!TrackloomIsWindows()) return r;
  for (std::string* text : {&r.out, &r.err}) {
    for (size_t at = 0; (at = text->find("\r\n", at)) != std::string::npos;) text->erase(at, 1);
  }
  return r;
}

// The arguments each command started by StartTrackloom was given, to find it under wine.
std::map<pid_t, std::vector<std::string>>& StartedArguments() {
  static std::map<pid_t, std::vector<std::string>> started;
  return started;
}

// A file of /proc, empty once its process has gone.
std::string ReadProcFile(const std::string& path) {
  std::string text;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return text;
  char buffer[4096];
  for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  close(fd);
  return text;
}

// Under wine the process started is wine's start.exe, which runs trackloom.exe as a
// process of its own (not even its child): that one is found by its arguments.
pid_t WindowsProcessOf(pid_t started) {
  const std::vector<std::string>& args = StartedArguments()[started];
  for (int attempt = 0; attempt < 1000; ++attempt) {
    for (const std::string& name : ListDirectory("/proc")) {
      if (name.find_first_not_of("0123456789") != std::string::npos) continue;
      std::vector<std::string> words;
      std::istringstream line(ReadProcFile("/proc/" + name + "/cmdline"));
      for (std::string word; std::getline(line, word, '\0');) words.push_back(word);
      while (!words.empty() && words.back().empty()) words.pop_back();
      if (words.empty() || !words[0].ends_with("trackloom.exe") ||
          words[0].find('/') != std::string::npos)
        continue;
      if (std::vector<std::string>(words.begin() + 1, words.end()) == args) return std::stoi(name);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return started;
}

}  // namespace

CommandResult RunTrackloom(const std::vector<std::string>& args, const RunOptions& options) {
  return AsLinuxText(RunCommand(TrackloomArgv(args), options));
}

pid_t StartTrackloom(const std::vector<std::string>& args, const std::string& out_dir) {
  const std::vector<std::string> argv = TrackloomArgv(args);
  // A test that feeds the command through a pipe must see the command's end as a
  // failed write, not be ended by it.
  signal(SIGPIPE, SIG_IGN);
  const pid_t pid = Spawn(argv, {}, out_dir + "/stdout", out_dir + "/stderr");
  StartedArguments()[pid] = args;
  return pid;
}

pid_t TrackloomProcess(pid_t pid) { return TrackloomIsWindows() ? WindowsProcessOf(pid) : pid; }

void SignalTrackloom(pid_t pid, int signal_number) { kill(TrackloomProcess(pid), signal_number); }

CommandResult WaitFor(pid_t pid, const std::string& out_dir) {
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  StartedArguments().erase(pid);
  return AsLinuxText(
      {StatusOf(wait_status), ReadText(out_dir + "/stdout"), ReadText(out_dir + "/stderr")});
}

std::string JoinedByCommand(const std::string& dir, const std::string& name) {
  return dir + (TrackloomIsWindows() ? "\\" : "/") + name;
}

void Ffmpeg(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"ffmpeg", "-nostdin", "-v", "error", "-y"};
  argv.insert(argv.end(), args.begin(), args.end());
  const CommandResult r = RunCommand(argv);
  ASSERT_EQ(r.status, 0) << "ffmpeg failed: " << r.err;
}

size_t Track::records() const {
  return bytes.size() < kFirstRecord ? 0 : (bytes.size() - kFirstRecord) / kRecordBytes;
}

const uint8_t* Track::record(size_t index) const { return bytes.data() + kFirstRecord + index * kRecordBytes; }

std::vector<uint8_t> Track::Sound(size_t index) const {
  std::vector<uint8_t> sound(kAudioChunkSize);
  cli::ExtractRecordSound(record(index), sound.data());
  return sound;
}

std::vector<uint8_t> Track::PictureNibbles(size_t index) const {
  std::vector<uint8_t> picture(cli::kRgbPictureSize);
  cli::DecodeFramePicture(record(index) + kRecordHeaderSize, picture.data());
  // The reader shows each stored value at the standard tables' level, all different.
  uint8_t stored[256] = {};
  for (int n = 0; n < levels::kEntries; ++n) stored[levels::ShownValue(levels::kStandardRamp[n])] = static_cast<uint8_t>(n);
  for (uint8_t& component : picture) component = stored[component];
  return picture;
}

Track ReadTrack(const std::string& path) { return Track{ReadFileBytes(path)}; }

}  // namespace trackloom::testing
