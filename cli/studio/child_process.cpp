#include "cli/studio/child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string_view>
#include <thread>

#include "cli/common/cli_error.h"
#include "cli/common/platform.h"

namespace trackloom::cli::studio {

namespace {

// The descriptor the child writes its progress lines to.
constexpr int kChildProgressFd = 3;

// The signals the studio may have set aside; a child starts with them as a fresh
// program has them, and with none blocked.
constexpr int kResetSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE, SIGQUIT};

// What a child is started with: an attribute and file actions, freed however the start
// ends.
class SpawnSetup {
 public:
  SpawnSetup() {
    posix_spawnattr_init(&attr_);
    posix_spawn_file_actions_init(&actions_);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int s : kResetSignals) sigaddset(&defaults, s);
    posix_spawnattr_setsigmask(&attr_, &none);
    posix_spawnattr_setsigdefault(&attr_, &defaults);
    flags_ = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  }
  ~SpawnSetup() {
    posix_spawn_file_actions_destroy(&actions_);
    posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  // A process group of its own: Ctrl-C in the studio's terminal reaches the whole
  // group, and the studio passes a stop on itself, so the child must not hear it twice.
  void OwnGroup() {
    posix_spawnattr_setpgroup(&attr_, 0);
    flags_ |= POSIX_SPAWN_SETPGROUP;
  }
  void Dup(int from, int to) { posix_spawn_file_actions_adddup2(&actions_, from, to); }
  void Null(int fd, int mode) {
    posix_spawn_file_actions_addopen(&actions_, fd, "/dev/null", mode, 0);
  }
  // Every descriptor from fd on is closed in the child (the server's sockets above all).
  void CloseFrom(int fd) { posix_spawn_file_actions_addclosefrom_np(&actions_, fd); }

  // Starts program (searched in PATH when search) with argv and the environment
  // plus extra; the child's pid, or -1 with errno set.
  pid_t Spawn(const std::string& program, const std::vector<std::string>& argv,
              const std::vector<std::string>& extra, bool search) {
    posix_spawnattr_setflags(&attr_, static_cast<short>(flags_));
    std::vector<char*> args, env;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string_view entry(*e);
      const bool replaced = std::any_of(extra.begin(), extra.end(), [&](const std::string& x) {
        return entry.substr(0, entry.find('=') + 1) == x.substr(0, x.find('=') + 1);
      });
      if (!replaced) env.push_back(*e);
    }
    for (const std::string& e : extra) env.push_back(const_cast<char*>(e.c_str()));
    env.push_back(nullptr);
    pid_t pid = -1;
    const int failed =
        search ? posix_spawnp(&pid, program.c_str(), &actions_, &attr_, args.data(), env.data())
               : posix_spawn(&pid, program.c_str(), &actions_, &attr_, args.data(), env.data());
    if (failed != 0) {
      errno = failed;
      return -1;
    }
    return pid;
  }

 private:
  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
  int flags_ = 0;
};

}  // namespace

std::string SelfPath() {
  std::vector<char> buffer(4096);
  const ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size() - 1);
  if (n <= 0) throw CliError("cannot find the trackloom program itself (/proc/self/exe)");
  return std::string(buffer.data(), static_cast<size_t>(n));
}

std::unique_ptr<ChildProcess> ChildProcess::StartSelf(const std::vector<std::string>& args,
                                                      const std::string& out_file,
                                                      const std::string& err_file) {
  std::vector<std::string> argv{SelfPath()};
  argv.insert(argv.end(), args.begin(), args.end());
  return Spawn(argv, out_file, err_file, "trackloom " + args.at(0));
}

std::unique_ptr<ChildProcess> ChildProcess::Start(const std::vector<std::string>& argv,
                                                  const std::string& out_file,
                                                  const std::string& err_file) {
  return Spawn(argv, out_file, err_file, argv.at(0));
}

std::unique_ptr<ChildProcess> ChildProcess::Spawn(const std::vector<std::string>& argv,
                                                  const std::string& out_file,
                                                  const std::string& err_file,
                                                  const std::string& what) {
  // Never through a link put where a log goes.
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC;
  const int out = open(out_file.c_str(), flags, 0644);
  const int err = open(err_file.c_str(), flags, 0644);
  int feed[2] = {-1, -1};
  if (out < 0 || err < 0 || pipe2(feed, O_CLOEXEC) != 0) {
    const std::string why = std::strerror(errno);
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    throw CliError("cannot start " + what + ": " + why);
  }
  SpawnSetup setup;
  setup.OwnGroup();
  setup.Dup(out, STDOUT_FILENO);
  setup.Dup(err, STDERR_FILENO);
  setup.Dup(feed[1], kChildProgressFd);
  setup.Null(STDIN_FILENO, O_RDONLY);
  setup.CloseFrom(kChildProgressFd + 1);
  const pid_t pid =
      setup.Spawn(argv[0], argv, {"TRACKLOOM_PROGRESS_FD=3", ParentPidEntry()}, false);
  const int spawn_errno = errno;
  close(out);
  close(err);
  close(feed[1]);
  if (pid < 0) {
    close(feed[0]);
    throw CliError("cannot start " + what + ": " + std::strerror(spawn_errno));
  }
  std::unique_ptr<ChildProcess> child(new ChildProcess);
  child->pid_ = pid;
  child->progress_fd_ = feed[0];
  return child;
}

ChildProcess::~ChildProcess() {
  if (progress_fd_ >= 0) close(progress_fd_);
  if (!waited_ && pid_ > 0) {
    kill(pid_, SIGINT);
    Wait();
  }
}

void ChildProcess::ReadProgress(const std::function<void(const std::string&)>& on_line) {
  std::string pending;
  char buffer[512];
  for (;;) {
    const ssize_t n = read(progress_fd_, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      on_line(pending.substr(0, end));
      pending.erase(0, end + 1);
    }
  }
}

void ChildProcess::Interrupt() {
  if (pid_ > 0 && !waited_) kill(pid_, SIGINT);
}

int ChildProcess::Wait() {
  if (waited_) return status_;
  int raw = 0;
  while (waitpid(pid_, &raw, 0) < 0 && errno == EINTR) {
  }
  waited_ = true;
  status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
  return status_;
}

void OpenBrowser(const std::string& address) {
  SpawnSetup setup;
  setup.Null(STDIN_FILENO, O_RDONLY);
  setup.Null(STDOUT_FILENO, O_WRONLY);
  setup.CloseFrom(STDERR_FILENO + 1);
  const pid_t pid = setup.Spawn("xdg-open", {"xdg-open", address}, {}, true);
  if (pid < 0) return;
  // Nobody waits for the browser; a thread of its own reaps the opener when it ends.
  std::thread([pid] {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }).detach();
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string LastLine(const std::string& text) {
  std::istringstream in(text);
  std::string line, last;
  while (std::getline(in, line)) {
    if (!line.empty()) last = line;
  }
  return last;
}

}  // namespace trackloom::cli::studio
