#include "tests/support/terminal.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

namespace trackloom::testing {

namespace {

// Reads what the program writes: waits up to first_ms for it to answer, then until
// it has been quiet for a moment.
void Drain(int master, std::string& screen, int first_ms) {
  constexpr int kQuietMs = 60;
  int wait = first_ms;
  for (;;) {
    pollfd p{master, POLLIN, 0};
    if (poll(&p, 1, wait) <= 0) return;
    char buffer[4096];
    const ssize_t n = read(master, buffer, sizeof buffer);
    if (n <= 0) return;
    screen.append(buffer, static_cast<size_t>(n));
    wait = kQuietMs;
  }
}

}  // namespace

TerminalRun RunOnTerminal(const std::function<void()>& child, const std::vector<std::string>& keys) {
  TerminalRun run;
  int master = -1;
  const pid_t pid = forkpty(&master, nullptr, nullptr, nullptr);
  if (pid == 0) {
    setenv("TERM", "xterm", 1);
    signal(SIGHUP, SIG_IGN);
    child();
    _exit(0);
  }
  if (pid < 0) return run;
  Drain(master, run.screen, 5000);
  for (const std::string& chunk : keys) {
    if (write(master, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) break;
    Drain(master, run.screen, 2000);
  }
  // If the program is still waiting, the keys did not finish it: end the terminal.
  Drain(master, run.screen, 300);
  close(master);
  waitpid(pid, &run.wait_status, 0);
  return run;
}

}  // namespace trackloom::testing
