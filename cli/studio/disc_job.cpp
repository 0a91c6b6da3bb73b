#include "cli/studio/disc_job.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/common/messages.h"
#include "cli/studio/child_process.h"
#include "cli/studio/file_access.h"
#include "cli/studio/still_preview.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::studio {

namespace fs = std::filesystem;

namespace {

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The track files of folder in their order.
std::vector<std::string> TrackFilesIn(const fs::path& folder) {
  std::vector<std::string> tracks;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("VDN Track ", 0) == 0 && name.size() > 14 &&
        name.compare(name.size() - 4, 4, ".wav") == 0)
      tracks.push_back(entry.path().string());
  }
  std::sort(tracks.begin(), tracks.end());
  return tracks;
}

bool OneOf(const std::string& value, std::initializer_list<const char*> allowed) {
  return std::any_of(allowed.begin(), allowed.end(), [&](const char* a) { return value == a; });
}

// encode's options for one video of the project.
std::vector<std::string> EncodeOptionsOf(const Json& video) {
  std::vector<std::string> options;
  const std::string fit = TextOf(video, "fit", "letterbox");
  if (OneOf(fit, {"letterbox", "crop", "stretch"})) options.push_back("--fit=" + fit);
  const std::string breaks = TextOf(video, "breaks", "none");
  if (breaks == "chapters") options.push_back("--break-at=chapters");
  if (breaks == "every" && !TextOf(video, "every").empty())
    options.push_back("--break-every=" + TextOf(video, "every"));
  if (breaks == "at" && !TextOf(video, "at").empty())
    options.push_back("--break-at=" + TextOf(video, "at"));
  if (TextOf(video, "levels") == "adaptive") options.push_back("--levels=adaptive");
  const std::string loudness = TextOf(video, "loudness", "-16");
  if (!loudness.empty()) options.push_back("--loudness=" + loudness);
  if (!TextOf(video, "audio").empty()) options.push_back("--audio=" + TextOf(video, "audio"));
  return options;
}

}  // namespace

std::string PlanDisc(const Json& project, const std::string& output, DiscJobPlan& plan) {
  const auto& videos = ItemsOf(project, "videos");
  if (videos.empty()) return "Add a video first.";
  const std::string first = TextOf(project, "first");
  if (first.empty()) return "Choose the first track (a WAV ripped from a disc you own) first.";
  plan = DiscJobPlan{};
  plan.output = output;
  plan.name = TextOf(project, "name", "disc");
  if (plan.name.empty() || plan.name.find_first_of("/\\") != std::string::npos ||
      plan.name[0] == '.' || plan.name[0] == '-')
    plan.name = "disc";
  for (size_t i = 0; i < videos.size(); ++i) {
    VideoJob job;
    job.path = TextOf(videos[i], "path");
    job.options = EncodeOptionsOf(videos[i]);
    char folder[32];
    std::snprintf(folder, sizeof folder, "video-%02zu", i + 1);
    job.folder = (fs::path(output) / (plan.name + "-tracks") / folder).string();
    plan.videos.push_back(std::move(job));
  }
  const int capacity = static_cast<int>(NumberOf(project, "capacity", 80));
  plan.disc_options = {"--first=" + first,
                       "--capacity=" + std::to_string(std::clamp(capacity, 1, 100))};
  if (FlagOf(project, "split")) plan.disc_options.push_back("--split");
  return "";
}

DiscJob::~DiscJob() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

bool DiscJob::Start(DiscJobPlan plan) {
  std::lock_guard lock(mutex_);
  if (running_) return false;
  // A thread that ended running_ takes no lock any more.
  if (thread_.joinable()) thread_.join();
  plan_ = std::move(plan);
  state_ = "running";
  step_ = "encode";
  message_.clear();
  tracks_.clear();
  written_.clear();
  burn_.clear();
  verdict_.clear();
  started_ = Now();
  cancelled_ = false;
  running_ = true;
  thread_ = std::thread([this] { Run(); });
  return true;
}

void DiscJob::Cancel() {
  cancelled_ = true;
  std::shared_ptr<ChildProcess> child;
  {
    std::lock_guard lock(mutex_);
    child = child_;
  }
  if (child) child->Interrupt();
}

void DiscJob::Finish(const std::string& state, const std::string& message) {
  std::lock_guard lock(mutex_);
  state_ = state;
  message_ = message;
  child_.reset();
}

void DiscJob::Collect(const VideoJob& video) {
  const std::vector<std::string> tracks = TrackFilesIn(video.folder);
  std::lock_guard lock(mutex_);
  tracks_.insert(tracks_.end(), tracks.begin(), tracks.end());
}

void DiscJob::Run() {
  // Each video counts in the whole by its length (a still by a minute).
  for (VideoJob& video : plan_.videos) {
    try {
      const VideoFacts facts = ReadVideoFacts(video.path);
      const double weight = facts.still ? 60 : std::max(1.0, facts.seconds);
      std::lock_guard lock(mutex_);
      video.weight = weight;
    } catch (const CliError&) {
    }
  }
  try {
    for (size_t i = 0; i < plan_.videos.size(); ++i) {
      if (!Encode(i)) {
        running_ = false;
        return;
      }
    }
    MakeImage();
  } catch (const std::exception& e) {
    // A folder that cannot be made or read, a program that cannot be started.
    Finish("failed", e.what());
  }
  running_ = false;
}

bool DiscJob::Encode(size_t index) {
  VideoJob& video = plan_.videos[index];
  // Checked again now: a link may have been placed since the page asked.
  if (std::string why; !MakeFolderInside(plan_.project, video.folder, &why)) throw CliError(why);
  std::vector<std::string> args{"encode", "-o", video.folder, "--overwrite", "--json"};
  args.insert(args.end(), video.options.begin(), video.options.end());
  args.insert(args.end(), {"--", video.path});
  const fs::path log = fs::path(video.folder) / "encode";
  auto child = std::shared_ptr<ChildProcess>(
      ChildProcess::StartSelf(args, log.string() + ".out", log.string() + ".err"));
  {
    std::lock_guard lock(mutex_);
    child_ = child;
    video.state = "encoding";
  }
  if (cancelled_) child->Interrupt();
  child->ReadProgress([&](const std::string& line) {
    long long done = 0, total = -1;
    if (std::sscanf(line.c_str(), "%lld %lld", &done, &total) != 2) return;
    std::lock_guard lock(mutex_);
    video.done = done;
    if (total > 0) video.total = total;
  });
  const int status = child->Wait();
  Collect(video);
  std::lock_guard lock(mutex_);
  child_.reset();
  if (status == 0 && !cancelled_) {
    video.state = "done";
    video.done = video.total = std::max<int64_t>(video.done, 1);
    return true;
  }
  video.state = cancelled_ ? "cancelled" : "failed";
  state_ = video.state;
  message_ = cancelled_
                 ? "Stopped: the tracks written are kept, the last one ending where it was stopped."
                 : LastLine(ReadText(log.string() + ".err"));
  return false;
}

// One image checked as the player reads it, in the page's words, from inspect's own
// summary.
std::string DiscJob::Check(const std::string& cue, const std::string& log) {
  auto check = ChildProcess::StartSelf({"inspect", "--json", cue}, log + "-inspect.out",
                                       log + "-inspect.err");
  check->ReadProgress([](const std::string&) {});
  const int status = check->Wait();
  const std::optional<Json> report = ParseJson(ReadText(log + "-inspect.out"));
  std::string what = LastLine(ReadText(log + "-inspect.err"));
  // inspect's summary lists what it checked; the image is the one thing here.
  const Json& checked = report ? ItemsOf(*report, "tracks") : Json::array();
  if (checked.size() == 1) {
    const Json& image = checked.front();
    const size_t tracks = ItemsOf(image, "tracks").size();
    // A short disc is filled with silence to the length players need: the page's
    // "used" counts what the videos take, this what the disc plays.
    const double plays = NumberOf(image, "disc_seconds");
    const bool filled = std::fabs(plays - DiscOptions{}.pad_to_seconds) < 1;
    what = std::to_string(tracks) + " track" + (tracks == 1 ? "" : "s") + ", " +
           FormatDuration(NumberOf(image, "video_seconds")) + " of video; the disc plays " +
           FormatDuration(plays) +
           (filled ? ", filled with silence to the least players need" : "");
  }
  return fs::path(cue).filename().string() + ": " +
         (status == 0 ? "passes the check" : "FAILS the check") + " (" + what + ")\n";
}

void DiscJob::MakeImage() {
  const fs::path logs = fs::path(plan_.output) / (plan_.name + "-tracks");
  for (const fs::path& folder : {fs::path(plan_.output), logs}) {
    if (std::string why; !MakeFolderInside(plan_.project, folder, &why)) throw CliError(why);
  }
  std::vector<std::string> tracks = Tracks();
  {
    std::lock_guard lock(mutex_);
    step_ = "disc";
  }
  const fs::path base = fs::path(plan_.output) / plan_.name;
  std::vector<std::string> args{"disc", "-o", base.string(), "--json"};
  args.insert(args.end(), plan_.disc_options.begin(), plan_.disc_options.end());
  args.push_back("--");
  args.insert(args.end(), tracks.begin(), tracks.end());
  const std::string log = (fs::path(plan_.output) / (plan_.name + "-tracks") / "disc").string();
  auto child =
      std::shared_ptr<ChildProcess>(ChildProcess::StartSelf(args, log + ".out", log + ".err"));
  {
    std::lock_guard lock(mutex_);
    child_ = child;
  }
  if (cancelled_) child->Interrupt();
  child->ReadProgress([](const std::string&) {});
  const int status = child->Wait();
  if (status != 0) {
    Finish(cancelled_ ? "cancelled" : "failed", LastLine(ReadText(log + ".err")));
    return;
  }
  // What was written, from the command's own summary.
  const std::optional<Json> summary = ParseJson(ReadText(log + ".out"));
  std::vector<std::string> written;
  std::string burn;
  const Json none = Json::array();
  for (const Json& disc : summary ? ItemsOf(*summary, "discs") : none) {
    for (const char* kind : {"bin", "cue", "toc"}) written.push_back(TextOf(disc, kind));
    burn += (burn.empty() ? "" : "\n") + std::string("cdrdao write --device /dev/sr0 ") +
            ShellWord(TextOf(disc, "toc"));
  }
  std::string verdict;
  for (const std::string& file : written) {
    if (fs::path(file).extension() == ".cue") verdict += Check(file, log);
  }
  std::lock_guard lock(mutex_);
  written_ = written;
  burn_ = burn;
  verdict_ = verdict;
  state_ = "done";
  step_ = "done";
  child_.reset();
}

std::vector<std::string> DiscJob::Tracks() const {
  std::lock_guard lock(mutex_);
  return tracks_;
}

Json DiscJob::Status() const {
  std::lock_guard lock(mutex_);
  Json status = Json::object();
  status["state"] = state_;
  status["step"] = step_;
  status["message"] = message_;
  Json videos = Json::array();
  double done = 0, total = 0;
  for (const VideoJob& v : plan_.videos) {
    const double part =
        v.total > 0 ? std::min(1.0, static_cast<double>(v.done) / static_cast<double>(v.total)) : 0;
    done += part * v.weight;
    total += v.weight;
    Json item = Json::object();
    item["path"] = v.path;
    item["state"] = v.state;
    item["fraction"] = part;
    videos.push_back(std::move(item));
  }
  // The image and its check take a small, fixed share of the whole.
  double overall = total > 0 ? 0.95 * done / total : 0;
  if (state_ == "done") overall = 1;
  const double elapsed = Now() - started_;
  const double left = overall > 0.02 && state_ == "running" ? elapsed / overall - elapsed : -1;
  status["videos"] = std::move(videos);
  status["overall"] = overall;
  status["secondsLeft"] = std::round(left);
  Json tracks = Json::array(), written = Json::array();
  for (const std::string& t : tracks_) tracks.push_back(t);
  for (const std::string& w : written_) written.push_back(w);
  status["tracks"] = std::move(tracks);
  status["written"] = std::move(written);
  status["burn"] = burn_;
  status["verdict"] = verdict_;
  return status;
}

}  // namespace trackloom::cli::studio
