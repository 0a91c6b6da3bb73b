// One self-rewriting status line on a terminal: frames done of the total, speed and
// time left. Prints nothing when disabled (not a terminal, --quiet, --json).
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string>

#include "cli/common/duration.h"

namespace trackloom::cli {

class Progress {
 public:
  // total: frames expected, or -1 when not known.
  Progress(FILE* out, bool enabled, int64_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  // Redraws at most a few times a second.
  void Update(int64_t done);
  // Draws a line of the caller's own, at most a few times a second.
  void Show(const std::string& line);
  // Removes the line so what follows starts on a clean one.
  void Finish();

  // The line Update draws, for a given state (no timing involved).
  static std::string Line(int64_t done, int64_t total, double frames_per_second);

 private:
  using Clock = std::chrono::steady_clock;
  void Draw(const std::string& line);
  FILE* out_;
  bool enabled_;
  bool drawn_ = false;
  int64_t total_;
  Clock::time_point start_;
  Clock::time_point last_draw_;
  size_t last_width_ = 0;
};

}  // namespace trackloom::cli
