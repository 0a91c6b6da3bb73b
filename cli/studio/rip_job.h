// Keeping a disc one owns: trackloom rip of a disc image or the CD drive into the
// project folder, as a child process whose progress the page polls. Cancel stops it
// as Ctrl-C does, which leaves no half video.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "cli/studio/studio_json.h"

namespace trackloom::cli::studio {

class ChildProcess;

// What the page says of a finished rip, from its exit status and what it printed with
// --json: done (the video is there, a source cut short included) and the summary.
struct RipOutcome {
  bool done = false;
  std::string summary;
};
RipOutcome ReadRipOutcome(int status, const std::string& output);

class RipJob {
 public:
  ~RipJob();
  // False when a rip is running already. logs: where the child's output goes.
  bool Start(const std::string& source, const std::string& output, const std::string& logs);
  void Cancel();
  // {state: idle, ripping, done, failed or cancelled; done, total (records); output;
  // summary: what the rip said; message}
  Json Status() const;
  bool running() const { return running_; }

 private:
  void Run(std::string source, std::string logs);

  mutable std::mutex mutex_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancelled_{false};
  std::shared_ptr<ChildProcess> child_;
  std::string state_ = "idle";
  std::string output_;
  std::string summary_;
  std::string message_;
  int64_t done_ = 0;
  int64_t total_ = -1;
};

}  // namespace trackloom::cli::studio
