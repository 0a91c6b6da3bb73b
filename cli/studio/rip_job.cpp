#include "cli/studio/rip_job.h"

#include <cstdio>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/studio/child_process.h"

namespace trackloom::cli {
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
    child =
        ChildProcess::StartSelf({"rip", "-o", output, "--", source}, logs + ".out", logs + ".err");
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
  summary_ = ReadText(logs + ".out");
  if (status == 0) {
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

}  // namespace trackloom::cli
