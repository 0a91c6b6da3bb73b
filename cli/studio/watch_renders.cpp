#include "cli/studio/watch_renders.h"

#include <cstdint>
#include <cstdio>
#include <thread>
#include <utility>

#include "cli/studio/child_process.h"

namespace trackloom::cli::studio {

namespace fs = std::filesystem;

namespace {

constexpr char kFailed[] = "The track could not be made into a video.";

Json IdleStatus() { return Json{{"state", "idle"}, {"done", 0}, {"total", -1}, {"message", ""}}; }

// The video as the player's panel shows it, with its sound, and no pictures or sound
// files beside it.
std::unique_ptr<ChildProcess> Decode(const std::string& track, const std::string& video,
                                     const std::string& log) {
  return ChildProcess::StartSelf(
      {"decode", track, "-o", fs::path(log).parent_path().string(), "--view", "panel",
       "--no-pictures", "--no-sound", "-q", "--video", video},
      log + ".out", log + ".err");
}

}  // namespace

struct WatchRenders::Render {
  std::string track;
  fs::path video;
  std::string log;
  std::string state = "making";
  int64_t done = 0;
  int64_t total = -1;
  std::string message;
  bool stopped = false;  // cancelled or forgotten: its video is not wanted
  bool ended = false;    // its thread has nothing left to do but return
  std::shared_ptr<ChildProcess> child;
  std::thread thread;
};

WatchRenders::WatchRenders(Maker maker) : maker_(maker ? std::move(maker) : Maker(Decode)) {}

WatchRenders::~WatchRenders() { Stop(); }

void WatchRenders::set_folder(const fs::path& folder) {
  std::lock_guard lock(mutex_);
  folder_ = folder;
}

Json WatchRenders::StatusOf(const Render& render) {
  Json status = Json::object();
  status["state"] = render.state;
  status["done"] = render.done;
  status["total"] = render.total;
  status["message"] = render.message;
  return status;
}

void WatchRenders::StopLocked(Render& render, const std::string& state) {
  if (render.state != "making") return;
  render.stopped = true;
  render.state = state;
  if (render.child) render.child->Interrupt();
}

void WatchRenders::ReapLocked() {
  std::erase_if(retired_, [](const std::shared_ptr<Render>& render) {
    if (!render->ended) return false;
    if (render->thread.joinable()) render->thread.join();
    return true;
  });
}

Json WatchRenders::Start(int index, const std::string& track) {
  std::lock_guard lock(mutex_);
  ReapLocked();
  auto& slot = renders_[index];
  if (slot && slot->track == track && (slot->state == "making" || slot->state == "ready"))
    return StatusOf(*slot);
  if (slot) {
    StopLocked(*slot, "cancelled");
    retired_.push_back(slot);
  }
  auto render = std::make_shared<Render>();
  render->track = track;
  // A name of its own each time: a cancelled child may still be writing the last one.
  const std::string name = "watch-" + std::to_string(index) + "-" + std::to_string(++generation_);
  render->video = folder_ / (name + ".mp4");
  render->log = (folder_ / name).string();
  slot = render;
  if (stopped_) {
    render->state = "cancelled";
    render->ended = true;
  } else {
    render->thread = std::thread([this, render] { Run(render); });
  }
  return StatusOf(*render);
}

Json WatchRenders::Status(int index) const {
  std::lock_guard lock(mutex_);
  const auto it = renders_.find(index);
  if (it == renders_.end()) return IdleStatus();
  return StatusOf(*it->second);
}

Json WatchRenders::Cancel(int index) {
  std::lock_guard lock(mutex_);
  const auto it = renders_.find(index);
  if (it == renders_.end()) return IdleStatus();
  StopLocked(*it->second, "cancelled");
  changed_.notify_all();
  return StatusOf(*it->second);
}

fs::path WatchRenders::Wait(int index, std::string* why) {
  std::unique_lock lock(mutex_);
  const auto it = renders_.find(index);
  if (it == renders_.end()) {
    *why = kFailed;
    return {};
  }
  const std::shared_ptr<Render> render = it->second;
  changed_.wait(lock, [&] { return render->state != "making"; });
  if (render->state == "ready") return render->video;
  *why = render->state == "cancelled" ? "Stopped." : render->message;
  return {};
}

void WatchRenders::Run(const std::shared_ptr<Render>& render) {
  std::shared_ptr<ChildProcess> child;
  std::string failure;
  int status = -1;
  try {
    child = maker_(render->track, render->video.string(), render->log);
  } catch (const std::exception& e) {
    failure = e.what();
  }
  if (child) {
    {
      std::lock_guard lock(mutex_);
      render->child = child;
      if (render->stopped) child->Interrupt();
    }
    child->ReadProgress([&](const std::string& line) {
      long long done = 0, total = -1;
      if (std::sscanf(line.c_str(), "%lld %lld", &done, &total) != 2) return;
      std::lock_guard lock(mutex_);
      render->done = done;
      if (total > 0) render->total = total;
    });
    status = child->Wait();
    if (status != 0) failure = LastLine(ReadText(render->log + ".err"));
  }
  std::lock_guard lock(mutex_);
  render->child.reset();
  if (!render->stopped) {
    render->state = status == 0 ? "ready" : "failed";
    render->message = status == 0 ? "" : failure.empty() ? kFailed : failure;
    if (status == 0 && render->total > 0) render->done = render->total;
  }
  // What a stopped or failed child left is no video to show.
  if (render->state != "ready") {
    std::error_code ec;
    fs::remove(render->video, ec);
  }
  render->ended = true;
  changed_.notify_all();
}

void WatchRenders::Forget() {
  fs::path folder;
  {
    std::lock_guard lock(mutex_);
    for (auto& [index, render] : renders_) {
      StopLocked(*render, "cancelled");
      retired_.push_back(render);
    }
    renders_.clear();
    ReapLocked();
    folder = folder_;
    changed_.notify_all();
  }
  // The videos of renders that have ended; one still ending removes its own.
  std::error_code ec;
  if (folder.empty()) return;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    if (entry.path().filename().string().rfind("watch-", 0) == 0) fs::remove(entry.path(), ec);
  }
}

void WatchRenders::Stop() {
  std::vector<std::shared_ptr<Render>> all;
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    for (auto& [index, render] : renders_) {
      StopLocked(*render, "cancelled");
      all.push_back(render);
    }
    all.insert(all.end(), retired_.begin(), retired_.end());
    // Theirs alone to join from here on.
    renders_.clear();
    retired_.clear();
    changed_.notify_all();
  }
  // Joined without the lock: each thread takes it once more to end.
  for (const std::shared_ptr<Render>& render : all) {
    if (render->thread.joinable()) render->thread.join();
  }
}

}  // namespace trackloom::cli::studio
