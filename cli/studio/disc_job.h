// Making the disc in the background: an encode of each video of the project into a
// folder of its own, then the disc image of all their tracks, then its check, each
// a child process whose progress the page polls. Cancel stops the running encode as
// Ctrl-C does, which keeps every complete track.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/studio/studio_json.h"

namespace trackloom::cli::studio {

class ChildProcess;

// One encode: the video and the options that go with it, as the page set them.
struct VideoJob {
  std::string path;
  std::vector<std::string> options;  // encode's own options for it
  std::string folder;                // where its tracks go
  int64_t done = 0;
  int64_t total = -1;
  double weight = 1;              // its share of the whole: its length in seconds
  std::string state = "waiting";  // waiting, encoding, done, failed, cancelled
};

struct DiscJobPlan {
  std::vector<VideoJob> videos;
  std::vector<std::string> disc_options;  // disc's options (--first, --capacity, ...)
  std::string project;                    // the project folder, which holds output
  std::string output;                     // the folder everything is written to
  std::string name;                       // the image's name in it
};

// The encode and disc options for a project as the page saves it; a message for
// the page instead when it is not complete (no videos, no first track).
std::string PlanDisc(const Json& project, const std::string& output, DiscJobPlan& plan);

class DiscJob {
 public:
  ~DiscJob();
  // False when a job is running already.
  bool Start(DiscJobPlan plan);
  void Cancel();
  // The state for the page: every video's progress, the whole, the time left, and
  // at the end what was written.
  Json Status() const;
  // The track files the last run left, in disc order.
  std::vector<std::string> Tracks() const;
  bool running() const { return running_; }

 private:
  void Run();
  bool Encode(size_t index);
  void MakeImage();
  std::string Check(const std::string& cue, const std::string& log);
  void Finish(const std::string& state, const std::string& message);
  void Collect(const VideoJob& video);

  mutable std::mutex mutex_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> cancelled_{false};
  DiscJobPlan plan_;
  std::shared_ptr<ChildProcess> child_;
  std::string state_ = "idle";
  std::string step_;
  std::string message_;
  std::vector<std::string> tracks_;
  std::vector<std::string> written_;
  std::string burn_;
  std::string verdict_;
  double started_ = 0;
};

}  // namespace trackloom::cli::studio
