// Drives a program on a fresh pseudo-terminal, as a person at a terminal would.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace trackloom::testing {

struct TerminalRun {
  int wait_status = -1;  // as waitpid gives it; -1 if no child was started
  std::string screen;    // everything the program wrote to the terminal
};

// Runs child() in a child process whose controlling terminal is a new
// pseudo-terminal (TERM=xterm, SIGHUP ignored so that closing the terminal is how
// input ends), types each chunk of keys once the program has gone quiet, then
// closes the terminal and waits for the child. The child exits with 0 when child()
// returns.
TerminalRun RunOnTerminal(const std::function<void()>& child, const std::vector<std::string>& keys);

}  // namespace trackloom::testing
