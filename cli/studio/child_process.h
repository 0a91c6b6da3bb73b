// The command's own subcommands run as child processes of the studio (an encode, a
// disc image, a check), so that a failure in one leaves the server standing and a
// Cancel is the Ctrl-C the subcommands already answer by finishing their current
// track. The only place of the studio that knows how processes are made.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace trackloom::cli::studio {

class ChildProcess {
 public:
  // Runs this program itself with args; its standard output and error go to the two
  // files, its progress lines (TRACKLOOM_PROGRESS_FD) to a pipe read by
  // ReadProgress. Throws CliError when it cannot be started.
  static std::unique_ptr<ChildProcess> StartSelf(const std::vector<std::string>& args,
                                                 const std::string& out_file,
                                                 const std::string& err_file);
  // The same for another program: argv[0] is its path.
  static std::unique_ptr<ChildProcess> Start(const std::vector<std::string>& argv,
                                             const std::string& out_file,
                                             const std::string& err_file);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Calls on_line with each progress line until the child closes its end.
  void ReadProgress(const std::function<void(const std::string&)>& on_line);
  // Asks the child to stop as Ctrl-C does; safe from another thread.
  void Interrupt();
  // Waits for the end: the exit status, or 128 + the signal that ended it.
  int Wait();

 private:
  ChildProcess() = default;
  // what: the program as an error names it.
  static std::unique_ptr<ChildProcess> Spawn(const std::vector<std::string>& argv,
                                             const std::string& out_file,
                                             const std::string& err_file, const std::string& what);
  int pid_ = -1;
  int progress_fd_ = -1;
  std::atomic<bool> waited_{false};
  int status_ = 0;
};

// What a child wrote to one of its files, whole.
std::string ReadText(const std::string& path);
// The last non-empty line of text: the one a failing subcommand explains itself in.
std::string LastLine(const std::string& text);

// The path of the running program, for starting it again.
std::string SelfPath();

// Opens address in the user's default browser (xdg-open), not waiting for it.
void OpenBrowser(const std::string& address);

}  // namespace trackloom::cli::studio
