#include "cli/studio/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/common/cli_error.h"

namespace trackloom::cli {

namespace {

// The descriptor the child writes its progress lines to.
constexpr int kChildProgressFd = 3;

[[noreturn]] void ExecChild(const std::vector<std::string>& argv, int out, int err, int feed) {
  // Ctrl-C in the studio's terminal reaches the whole process group: the studio
  // itself passes a stop on, so the child must not hear it twice and give up at once.
  setpgid(0, 0);
  dup2(out, STDOUT_FILENO);
  dup2(err, STDERR_FILENO);
  dup2(feed, kChildProgressFd);
  const int devnull = open("/dev/null", O_RDONLY);
  if (devnull >= 0) dup2(devnull, STDIN_FILENO);
  for (int fd = kChildProgressFd + 1; fd < 1024; ++fd) close(fd);
  setenv("TRACKLOOM_PROGRESS_FD", "3", 1);
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  execv(args[0], args.data());
  _exit(127);
}

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
  const int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  int feed[2] = {-1, -1};
  if (out < 0 || err < 0 || pipe2(feed, O_CLOEXEC) != 0) {
    const std::string why = std::strerror(errno);
    if (out >= 0) close(out);
    if (err >= 0) close(err);
    throw CliError("cannot start trackloom " + args.at(0) + ": " + why);
  }
  const pid_t pid = fork();
  if (pid == 0) ExecChild(argv, out, err, feed[1]);
  close(out);
  close(err);
  close(feed[1]);
  if (pid < 0) {
    close(feed[0]);
    throw CliError("cannot start trackloom " + args.at(0) + ": " + std::strerror(errno));
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
  const pid_t pid = fork();
  if (pid == 0) {
    // A grandchild, so that nobody has to wait for the browser.
    if (fork() != 0) _exit(0);
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
    }
    execlp("xdg-open", "xdg-open", address.c_str(), static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid > 0) {
    while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
    }
  }
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

}  // namespace trackloom::cli
