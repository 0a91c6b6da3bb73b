#include "cli/studio/rip_job.h"

#include <cstdio>
#include <optional>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/common/messages.h"
#include "cli/studio/child_process.h"

namespace trackloom::cli::studio {
namespace {

// "6 chapters, 0:13.0 of video" for the page, from what rip --json said; then each
// chapter with damaged records, and the tracks the source did not hold whole.
std::string SummaryOf(const Json& rip) {
  std::string files;
  for (const Json& f : ItemsOf(rip, "files"))
    files += (files.empty() ? "" : ", ") + (f.is_string() ? f.get<std::string>() : "");
  double seconds = 0;
  std::string damage;
  const Json& chapters = ItemsOf(rip, "chapters");
  for (const Json& c : chapters) {
    seconds += NumberOf(c, "seconds");
    const auto damaged = static_cast<int64_t>(NumberOf(c, "damaged_records"));
    if (damaged > 0) {
      damage += Format("Track %02d: ", static_cast<int>(NumberOf(c, "track"))) +
                Count(damaged, "damaged record") + ", shown as the picture before.\n";
    }
  }
  std::string text = "Wrote " + files + ": " +
                     Count(static_cast<int64_t>(chapters.size()), "chapter") + ", " +
                     FormatDuration(seconds, 1) + " of video (read through " +
                     TextOf(rip, "read_through") + ")\n" + damage;
  std::string cut;
  for (const Json& t : ItemsOf(rip, "cut_short")) {
    cut += (cut.empty() ? "" : ", ") + Format("track %d ", static_cast<int>(NumberOf(t, "track"))) +
           (NumberOf(t, "bytes") == 0 ? "missing" : "cut short");
  }
  if (!cut.empty())
    text += "The source ends early (" + cut + "): the video holds what there was.\n";
  if (damage.empty() && cut.empty() && NumberOf(rip, "read_errors") == 0)
    text += "Every record was read whole.\n";
  return text;
}

}  // namespace

RipOutcome ReadRipOutcome(int status, const std::string& output) {
  const std::optional<Json> said = ParseJson(output);
  RipOutcome outcome;
  if (!said || !said->is_object()) {
    outcome.done = status == 0;
    return outcome;
  }
  outcome.summary = SummaryOf(*said);
  // A source cut short still gives the video of what it held: rip fails, but the
  // video is there and the summary says what is missing.
  const bool cut_short = !ItemsOf(*said, "cut_short").empty() && !ItemsOf(*said, "files").empty();
  outcome.done = status == 0 || (status == 1 && cut_short);
  return outcome;
}

RipJob::~RipJob() {
  Cancel();
  if (thread_.joinable()) thread_.join();
}

bool RipJob::Start(const std::string& source, const std::string& output, const std::string& logs) {
  if (running_.exchange(true)) return false;
  if (thread_.joinable()) thread_.join();
  {
    std::lock_guard lock(mutex_);
    state_ = "ripping";
    output_ = output;
    summary_.clear();
    message_.clear();
    done_ = 0;
    total_ = -1;
  }
  cancelled_ = false;
  thread_ = std::thread([this, source, logs] { Run(source, logs); });
  return true;
}

void RipJob::Cancel() {
  cancelled_ = true;
  std::shared_ptr<ChildProcess> child;
  {
    std::lock_guard lock(mutex_);
    child = child_;
  }
  if (child) child->Interrupt();
}

void RipJob::Run(std::string source, std::string logs) {
  std::string output;
  {
    std::lock_guard lock(mutex_);
    output = output_;
  }
  std::shared_ptr<ChildProcess> child;
  try {
    child = ChildProcess::StartSelf({"rip", "--json", "-o", output, "--", source}, logs + ".out",
                                    logs + ".err");
  } catch (const CliError& e) {
    std::lock_guard lock(mutex_);
    state_ = "failed";
    message_ = e.what();
    running_ = false;
    return;
  }
  {
    std::lock_guard lock(mutex_);
    child_ = child;
  }
  if (cancelled_) child->Interrupt();
  child->ReadProgress([&](const std::string& line) {
    long long done = 0, total = -1;
    if (std::sscanf(line.c_str(), "%lld %lld", &done, &total) != 2) return;
    std::lock_guard lock(mutex_);
    done_ = done;
    total_ = total;
  });
  const int status = child->Wait();
  std::lock_guard lock(mutex_);
  child_.reset();
  const RipOutcome outcome = ReadRipOutcome(status, ReadText(logs + ".out"));
  summary_ = outcome.summary;
  if (outcome.done) {
    state_ = "done";
    done_ = total_ = std::max<int64_t>(total_, 1);
  } else {
    state_ = cancelled_ ? "cancelled" : "failed";
    message_ = cancelled_ ? "Stopped: no video was written." : LastLine(ReadText(logs + ".err"));
  }
  running_ = false;
}

Json RipJob::Status() const {
  std::lock_guard lock(mutex_);
  Json status = Json::object();
  status["state"] = state_;
  status["done"] = static_cast<double>(done_);
  status["total"] = static_cast<double>(total_);
  status["output"] = output_;
  status["summary"] = summary_;
  status["message"] = message_;
  return status;
}

}  // namespace trackloom::cli::studio
