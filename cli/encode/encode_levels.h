// Level tables chosen for each track (--levels adaptive): the pictures of a track are
// held back in a file until the track's last one is read, its tables chosen from all
// of them, and only then reduced towards those tables' levels and handed to the
// filter; the tables go into the track's record headers once the filter is done.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/temp_file.h"
#include "cli/pictures/level_choice.h"
#include "cli/pictures/panel_levels.h"
#include "runner/frame_source.h"

namespace trackloom::cli::encode {

class TrackLevelSource : public runner::FrameSource {
 public:
  // pictures: 144 x 80 BGRA at full precision. breaks: the filter's list of break
  // frames, in its order. The spool file is made in directory; on_read is told the
  // number of pictures read so far as they are read.
  TrackLevelSource(runner::FrameSource& pictures, std::vector<int32_t> breaks, Dither dither,
                   const std::string& directory, std::function<void(int64_t)> on_read);
  ~TrackLevelSource() override;
  TrackLevelSource(const TrackLevelSource&) = delete;
  TrackLevelSource& operator=(const TrackLevelSource&) = delete;

  runner::FrameFormat format() const override { return pictures_.format(); }
  int64_t frame_count() const override { return pictures_.frame_count(); }
  std::optional<runner::Frame> Next() override;

  // The tables of every track begun, in order: the filter's tracks 1, 2, ... of this
  // render, as it starts a track at the same frames.
  const std::vector<levels::Tables>& tables() const { return tables_; }
  int64_t frames_read() const { return read_; }
  // Pictures read and not yet handed on: a stop writes them first, as it would have
  // had they been handed on as they were read.
  bool holds_pictures() const { return served_ < spooled_; }
  // Why the pictures ended early on this side (the spool file failed), if they did.
  const std::optional<std::string>& failure() const { return failure_; }

 private:
  // Reads the next track's pictures into the spool and chooses its tables; false
  // when there are none.
  bool SpoolTrack();
  // Whether the filter starts a new track at this picture (the nth, from 0).
  bool StartsTrack(int64_t n, int32_t source_frame);
  void Spool(const runner::Frame& frame);
  void WriteAt(int64_t offset, const uint8_t* bytes, size_t count);

  runner::FrameSource& pictures_;
  std::vector<int32_t> breaks_;
  size_t next_break_ = 0;
  Dither dither_;
  std::function<void(int64_t)> on_read_;
  TempFile spool_file_;
  int fd_ = -1;
  std::string spool_name_;  // for messages
  LevelHistograms histograms_;
  std::optional<LevelReducer> reducer_;
  std::vector<levels::Tables> tables_;
  std::vector<uint8_t> record_;           // one spooled picture: its source frame, then BGR
  std::vector<uint8_t> picture_;          // the one handed out, BGRA
  std::optional<runner::Frame> pending_;  // the first of the next track, in pending_picture_
  std::vector<uint8_t> pending_picture_;
  int64_t read_ = 0;
  int64_t spooled_ = 0;
  int64_t served_ = 0;
  std::optional<std::string> failure_;
};

// The filter's break list as it states it ("100;250").
std::vector<int32_t> FilterBreakList(const std::string& list);

// Writes tables[n - 1] into every record of track n of directory, for n from 1 to
// tracks. Throws CliError when a track cannot be rewritten.
void WriteTrackLevels(const std::string& directory, int tracks,
                      const std::vector<levels::Tables>& tables);

}  // namespace trackloom::cli::encode
