// Ctrl-C (and SIGTERM, SIGHUP, SIGQUIT) handling for long work: the first signal only asks the work
// loop to stop after the current frame, so the open track can still be finished; a
// second one gives up at once, removing the registered temporary file first.
#pragma once

#include <string>

namespace trackloom::cli {

void InstallInterruptHandlers();
bool StopRequested();
// The signal that asked to stop, or 0.
int StopSignal();
// The process exit status for an interrupted run: 128 + signal number (130 for Ctrl-C).
int InterruptedExitStatus();
// The file a second, immediate interrupt must still remove; null clears it.
void SetTempFileForHardExit(const char* path);
// For AVFormatContext::interrupt_callback: blocking I/O gives up once stop is asked.
int AvInterruptCallback(void* unused);

// The one exception a long step throws when it sees a stop asked for: the command's
// guard turns it into the interrupted exit status and says what was kept, in
// message when the step knows it (otherwise in the command's own words).
struct Stopped {
  std::string message;
};

// Tests reset the state between cases that simulate interrupts.
void ResetInterruptForTesting();

}  // namespace trackloom::cli
