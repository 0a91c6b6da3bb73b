// Ctrl-C (and SIGTERM, SIGHUP, SIGQUIT) handling for long work: the first signal only asks the work
// loop to stop after the current frame, so the open track can still be finished; a
// second one gives up at once, removing the registered temporary file first.
#pragma once

#include <string>

#ifndef _WIN32
#include <csignal>
#endif

namespace trackloom::cli {

void InstallInterruptHandlers();
bool StopRequested();
// The signal that asked to stop, or 0.
int StopSignal();
// The process exit status for an interrupted run: 128 + signal number (130 for Ctrl-C).
int InterruptedExitStatus();
// The file a second, immediate interrupt must still remove; null clears it.
void SetTempFileForHardExit(const char* path);
// For AVFormatContext::interrupt_callback: blocking I/O gives up once stop is asked,
// or once the ReadDeadline of the calling thread has passed.
int AvInterruptCallback(void* unused);

// While it lives, FFmpeg's reading on this thread gives up (as at a stop) once
// seconds have passed, so that a file on a stalled drive or one that is endlessly
// slow to take apart cannot hold its caller. Deadlines do not nest.
class ReadDeadline {
 public:
  explicit ReadDeadline(double seconds);
  ~ReadDeadline();
  ReadDeadline(const ReadDeadline&) = delete;
  ReadDeadline& operator=(const ReadDeadline&) = delete;
  // The time has passed: a failure of the reading is most likely this.
  bool passed() const;
};

// The one exception a long step throws when it sees a stop asked for: the command's
// guard turns it into the interrupted exit status and says what was kept, in
// message when the step knows it (otherwise in the command's own words).
struct Stopped {
  std::string message;
};

// While one lives, the stopping signals wait (SIGINT, SIGTERM, SIGHUP, SIGQUIT), so
// that a step that must be whole (files taking their names) is. On Windows Ctrl-C
// only raises the stop flag, which such a step does not look at: nothing to hold.
class StopSignalsHeld {
 public:
  StopSignalsHeld();
  ~StopSignalsHeld();
  StopSignalsHeld(const StopSignalsHeld&) = delete;
  StopSignalsHeld& operator=(const StopSignalsHeld&) = delete;

 private:
#ifndef _WIN32
  sigset_t old_;
#endif
};

// Tests reset the state between cases that simulate interrupts.
void ResetInterruptForTesting();

}  // namespace trackloom::cli
