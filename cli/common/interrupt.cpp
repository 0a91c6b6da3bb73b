#include "cli/common/interrupt.h"

#include "cli/common/platform.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <chrono>
#include <csignal>
#include <cstring>
#include <initializer_list>

namespace trackloom::cli {
namespace {

volatile std::sig_atomic_t g_stop_signal = 0;
// Written before a temporary file exists and cleared after it is gone, read only by
// the handler: a plain buffer, since the handler may only call unlink().
char g_temp_path[4096];
volatile std::sig_atomic_t g_temp_path_set = 0;

extern "C" void OnStopSignal(int signal_number) {
  if (g_stop_signal != 0) {
    if (g_temp_path_set) unlink(g_temp_path);
    _exit(128 + signal_number);
  }
  g_stop_signal = signal_number;
}

#ifdef _WIN32
// Ctrl-C and Ctrl-Break stop the work as SIGINT does; closing the console window,
// logging off and shutting down as SIGTERM. Windows ends the process as soon as the
// handler of a closing console returns, so that handler waits (Windows allows a few
// seconds) while the work finishes its track and removes its hidden files.
BOOL WINAPI OnConsoleEvent(DWORD event) {
  const bool key = event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT;
  OnStopSignal(key ? SIGINT : SIGTERM);
  if (!key) Sleep(INFINITE);
  return TRUE;
}
#endif

}  // namespace

#ifdef _WIN32
void InstallInterruptHandlers() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }
#else
void InstallInterruptHandlers() {
  struct sigaction action = {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = 0;  // no SA_RESTART: a blocked read returns and the loop sees the flag
  // A closed terminal (SIGHUP) and SIGQUIT ask to stop just as SIGTERM does, so the
  // open track is still finished and the work's hidden files are cleaned up.
  for (const int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
    sigaction(signal_number, &action, nullptr);
}
#endif

bool StopRequested() { return g_stop_signal != 0; }
int StopSignal() { return g_stop_signal; }
int InterruptedExitStatus() { return 128 + (g_stop_signal != 0 ? g_stop_signal : SIGINT); }

void SetTempFileForHardExit(const char* path) {
  g_temp_path_set = 0;
  if (path == nullptr || std::strlen(path) >= sizeof g_temp_path) return;
  std::strcpy(g_temp_path, path);
  g_temp_path_set = 1;
}

namespace {

using Clock = std::chrono::steady_clock;
thread_local Clock::time_point t_read_deadline = Clock::time_point::max();

}  // namespace

int AvInterruptCallback(void*) {
  if (g_stop_signal != 0) return 1;
  return t_read_deadline != Clock::time_point::max() && Clock::now() >= t_read_deadline ? 1 : 0;
}

ReadDeadline::ReadDeadline(double seconds) {
  t_read_deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                       std::chrono::duration<double>(seconds));
}

ReadDeadline::~ReadDeadline() { t_read_deadline = Clock::time_point::max(); }

bool ReadDeadline::passed() const { return Clock::now() >= t_read_deadline; }

void ResetInterruptForTesting() { g_stop_signal = 0; }

#ifdef _WIN32
StopSignalsHeld::StopSignalsHeld() {}
StopSignalsHeld::~StopSignalsHeld() {}
#else
StopSignalsHeld::StopSignalsHeld() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaddset(&set, signal_number);
  sigprocmask(SIG_BLOCK, &set, &old_);
}
StopSignalsHeld::~StopSignalsHeld() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
#endif

}  // namespace trackloom::cli
