#include "cli/common/progress.h"

#include <algorithm>
#include <cmath>

#include "cli/common/duration.h"
#include "cli/common/progress_feed.h"

namespace trackloom::cli {

Progress::Progress(FILE* out, bool enabled, int64_t total)
    : out_(out), enabled_(enabled), total_(total), start_(Clock::now()), last_draw_(start_) {}

Progress::~Progress() { Finish(); }

std::string Progress::Line(int64_t done, int64_t total, double frames_per_second) {
  char text[160];
  int n;
  if (total > 0) {
    const int64_t shown_total = std::max(total, done);
    n = std::snprintf(text, sizeof text, "frame %lld/%lld (%d%%)", static_cast<long long>(done),
                      static_cast<long long>(shown_total),
                      static_cast<int>(100 * done / shown_total));
  } else {
    n = std::snprintf(text, sizeof text, "frame %lld", static_cast<long long>(done));
  }
  if (frames_per_second > 0) {
    n += std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "  %.1f fps",
                       frames_per_second);
    if (total > 0 && total > done) {
      const double left = static_cast<double>(total - done) / frames_per_second;
      std::snprintf(text + n, sizeof text - static_cast<size_t>(n), "  %s left",
                    FormatDuration(left).c_str());
    }
  }
  return text;
}

void Progress::Update(int64_t done) {
  FeedProgress(done, total_);
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(250)) return;
  last_draw_ = now;
  const double elapsed = std::chrono::duration<double>(now - start_).count();
  const double rate = elapsed > 0.2 ? static_cast<double>(done) / elapsed : 0;
  Draw(Line(done, total_, rate));
}

void Progress::Show(const std::string& line) {
  if (!enabled_) return;
  const Clock::time_point now = Clock::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(250)) return;
  last_draw_ = now;
  Draw(line);
}

void Progress::Draw(const std::string& line) {
  // Blanks over the rest of a longer earlier line.
  const size_t pad = last_width_ > line.size() ? last_width_ - line.size() : 0;
  std::fprintf(out_, "\r%s%*s", line.c_str(), static_cast<int>(pad), "");
  std::fflush(out_);
  last_width_ = line.size();
  drawn_ = true;
}

void Progress::Finish() {
  if (!enabled_ || !drawn_) return;
  std::fprintf(out_, "\r%*s\r", static_cast<int>(last_width_), "");
  std::fflush(out_);
  drawn_ = false;
}

}  // namespace trackloom::cli
