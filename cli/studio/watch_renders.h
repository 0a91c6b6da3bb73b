// The videos Watch makes of the tracks of the last disc: a child decode per track on
// a thread of its own, whose progress the page polls and which it may cancel. Every
// request for a track shares its one render; a render that failed or was cancelled is
// begun again by the next request.
#pragma once

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/studio/studio_json.h"

namespace trackloom::cli::studio {

class ChildProcess;

class WatchRenders {
 public:
  // Starts the child that makes track into the video file, its output and errors
  // written to log + ".out" and log + ".err".
  using Maker = std::function<std::unique_ptr<ChildProcess>(
      const std::string& track, const std::string& video, const std::string& log)>;

  // By default the track is decoded by this program itself, as the player shows it.
  explicit WatchRenders(Maker maker = {});
  ~WatchRenders();
  WatchRenders(const WatchRenders&) = delete;
  WatchRenders& operator=(const WatchRenders&) = delete;

  // Where the videos and their logs are written (the studio's private cache).
  void set_folder(const std::filesystem::path& folder);

  // The status of track number index after starting its render, unless one is being
  // made or is ready already.
  Json Start(int index, const std::string& track);
  // {state: idle, making, ready, failed or cancelled; done, total (frames; total -1
  // while unknown); message: why it failed}
  Json Status(int index) const;
  // Stops a render being made; its status says "cancelled" from here on.
  Json Cancel(int index);
  // Waits for the end of the render started last for index: its video when it was
  // made, else nothing and the message for the page in *why.
  std::filesystem::path Wait(int index, std::string* why);
  // The tracks are replaced: every render is stopped and its video removed.
  void Forget();
  // At the studio's end: stops every render and waits for their threads, and starts
  // no more.
  void Stop();

 private:
  struct Render;
  void Run(const std::shared_ptr<Render>& render);
  static Json StatusOf(const Render& render);
  // Stops a render being made; call with mutex_ held.
  static void StopLocked(Render& render, const std::string& state);
  // Joins the threads of stopped renders that have ended; call with mutex_ held.
  void ReapLocked();

  Maker maker_;
  std::filesystem::path folder_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, std::shared_ptr<Render>> renders_;
  // Renders replaced or forgotten whose threads may still be ending.
  std::vector<std::shared_ptr<Render>> retired_;
  int generation_ = 0;
  bool stopped_ = false;
};

}  // namespace trackloom::cli::studio
