#include "tests/cli_run.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>

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
  const pid_t pid = Spawn(argv, options, dir.File("out"), dir.File("err"));
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
  argv.push_back(TRACKLOOM_BINARY);
  argv.insert(argv.end(), args.begin(), args.end());
  return argv;
}

}  // namespace

CommandResult RunTrackloom(const std::vector<std::string>& args, const RunOptions& options) {
  return RunCommand(TrackloomArgv(args), options);
}

pid_t StartTrackloom(const std::vector<std::string>& args, const std::string& out_dir) {
  const std::vector<std::string> argv = TrackloomArgv(args);
  return Spawn(argv, {}, out_dir + "/stdout", out_dir + "/stderr");
}

CommandResult WaitFor(pid_t pid, const std::string& out_dir) {
  int wait_status = 0;
  waitpid(pid, &wait_status, 0);
  return {StatusOf(wait_status), ReadText(out_dir + "/stdout"), ReadText(out_dir + "/stderr")};
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
  for (uint8_t& component : picture) component /= 17;  // the reader gives each 4-bit value x 17
  return picture;
}

Track ReadTrack(const std::string& path) { return Track{ReadFileBytes(path)}; }

}  // namespace trackloom::testing
