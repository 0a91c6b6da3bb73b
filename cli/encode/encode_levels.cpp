#include "cli/encode/encode_levels.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/encode/track_staging.h"
#include "cli/tracks/track_files.h"
#include "core/track_format.h"

namespace trackloom::cli::encode {

namespace {

constexpr size_t kPixels = size_t{kPictureWidth} * kPictureHeight;
constexpr size_t kSourceFrameBytes = sizeof(int32_t);
constexpr size_t kSpoolRecord = kSourceFrameBytes + 3 * kPixels;
constexpr int kStride = kPictureWidth * 4;

// Row y of a frame's picture, counted from the top.
const uint8_t* TopRow(const runner::FrameView& view, int y) {
  return static_cast<const uint8_t*>(view.bottom_row) + (kPictureHeight - 1 - y) * view.pitch;
}

}  // namespace

TrackLevelSource::TrackLevelSource(runner::FrameSource& pictures, std::vector<int32_t> breaks,
                                   Dither dither, const std::string& directory,
                                   std::function<void(int64_t)> on_read)
    : pictures_(pictures),
      breaks_(std::move(breaks)),
      dither_(dither),
      on_read_(std::move(on_read)),
      record_(kSpoolRecord),
      picture_(kPixels * 4),
      pending_picture_(kPixels * 4) {
  spool_file_.CreateUnnamed(directory, kSpoolPrefix, "");
  spool_name_ = "the pictures' temporary file in '" + directory + "'";
  fd_ = OpenDescriptor(spool_file_.path().c_str(), O_RDWR | O_CLOEXEC);
  if (fd_ < 0) throw CliError("cannot open " + spool_name_ + ": " + DescribeError(errno));
}

TrackLevelSource::~TrackLevelSource() {
  if (fd_ >= 0) close(fd_);
}

bool TrackLevelSource::StartsTrack(int64_t n, int32_t source_frame) {
  // As the filter does: from the first picture it writes (the second), at most one
  // break a picture.
  if (n == 0 || next_break_ >= breaks_.size() || source_frame < breaks_[next_break_]) return false;
  ++next_break_;
  return true;
}

void TrackLevelSource::WriteAt(int64_t offset, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    const ssize_t n = pwrite(fd_, bytes, count, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      throw CliError("cannot write " + spool_name_ + ": " + DescribeError(n == 0 ? ENOSPC : errno));
    }
    bytes += n, offset += n, count -= static_cast<size_t>(n);
  }
}

void TrackLevelSource::Spool(const runner::Frame& frame) {
  std::memcpy(record_.data(), &frame.source_frame, kSourceFrameBytes);
  uint8_t* out = record_.data() + kSourceFrameBytes;
  for (int y = 0; y < kPictureHeight; ++y) {
    const uint8_t* row = TopRow(frame.picture, y);
    for (int x = 0; x < kPictureWidth; ++x, out += 3) std::memcpy(out, row + 4 * x, 3);
  }
  histograms_.Add(TopRow(frame.picture, 0), static_cast<int>(-frame.picture.pitch));
  WriteAt(spooled_++ * static_cast<int64_t>(kSpoolRecord), record_.data(), record_.size());
}

bool TrackLevelSource::SpoolTrack() {
  spooled_ = served_ = 0;
  histograms_ = LevelHistograms();
  if (pending_) {
    Spool(*pending_);
    pending_.reset();
  }
  while (std::optional<runner::Frame> frame = pictures_.Next()) {
    if (on_read_) on_read_(++read_);
    if (StartsTrack(read_ - 1, frame->source_frame) && spooled_ > 0) {
      for (int y = 0; y < kPictureHeight; ++y) {
        std::memcpy(pending_picture_.data() + y * kStride, TopRow(frame->picture, y), kStride);
      }
      pending_ = runner::Frame{
          runner::FrameView::TopDown(pending_picture_.data(), kStride, kPictureHeight),
          frame->source_frame};
      break;
    }
    Spool(*frame);
  }
  if (spooled_ == 0) return false;
  tables_.push_back(ChooseTables(histograms_, dither_));
  reducer_.emplace(AimAt(tables_.back()), dither_);
  return true;
}

std::optional<runner::Frame> TrackLevelSource::Next() {
  try {
    if (failure_ || (served_ == spooled_ && !SpoolTrack())) return std::nullopt;
    const off_t at = static_cast<off_t>(served_++ * static_cast<int64_t>(kSpoolRecord));
    if (pread(fd_, record_.data(), record_.size(), at) != static_cast<ssize_t>(kSpoolRecord)) {
      throw CliError("cannot read " + spool_name_ + ": " + DescribeError(errno));
    }
  } catch (const CliError& e) {
    failure_ = e.what();
    return std::nullopt;
  }
  const uint8_t* in = record_.data() + kSourceFrameBytes;
  for (size_t i = 0; i < kPixels; ++i, in += 3) {
    std::memcpy(&picture_[4 * i], in, 3);
    picture_[4 * i + 3] = 0xFF;
  }
  reducer_->Reduce(picture_.data(), kStride);
  runner::Frame frame;
  std::memcpy(&frame.source_frame, record_.data(), kSourceFrameBytes);
  frame.picture = runner::FrameView::TopDown(picture_.data(), kStride, kPictureHeight);
  return frame;
}

std::vector<int32_t> FilterBreakList(const std::string& list) {
  std::vector<int32_t> frames;
  size_t at = 0;
  while (at < list.size()) {
    size_t end = list.find(';', at);
    if (end == std::string::npos) end = list.size();
    if (end > at) frames.push_back(static_cast<int32_t>(std::stol(list.substr(at, end - at))));
    at = end + 1;
  }
  return frames;
}

void WriteTrackLevels(const std::string& directory, int tracks,
                      const std::vector<levels::Tables>& tables) {
  for (int n = 1; n <= tracks && static_cast<size_t>(n) <= tables.size(); ++n) {
    WriteLevelTables(directory + "/" + TrackFileName(n), tables[static_cast<size_t>(n - 1)]);
  }
}

}  // namespace trackloom::cli::encode
