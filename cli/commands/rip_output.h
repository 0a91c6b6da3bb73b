// Where a rip's records go: the video file (or one a track with --each), written
// under a temporary name and renamed when complete.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cli/commands/rip_report.h"
#include "cli/common/temp_file.h"
#include "cli/ffmpeg/record_video.h"
#include "cli/pictures/panel_view.h"
#include "cli/pictures/view_yuv.h"

namespace trackloom::cli {

enum class RipFormat {
  kUnknown,
  kArchive,  // .mkv: FFV1 and the 8-bit sound as is
  kWatch,    // .mp4 and the like: H.264 and AAC at 4:3
};
RipFormat RipFormatOf(const std::string& path);

class RipOutput final : public RecordSink {
 public:
  RipOutput(const RipOptions& o, std::vector<std::string> inputs);
  // Refuses, before anything is read, a name that may not be written (it exists
  // without --overwrite, it is a link, it is an input). Throws CliError.
  void CheckNames() const;
  bool BeginChapter(int track) override;
  bool Record(const uint8_t* record) override;
  // Completes the open file; the names of every file written.
  std::vector<std::string> Finish();
  const std::vector<std::string>& written() const { return written_; }

 private:
  std::string NameFor(int track) const;
  void Open(const std::string& path);
  void CheckName(const std::string& path) const;

  const RipOptions& o_;
  std::vector<std::string> inputs_;
  RipFormat format_;
  PictureRect size_;
  std::unique_ptr<ffmpeg::RecordVideo> video_;
  TempFile temp_;
  std::string target_;
  std::vector<std::string> written_;
  std::vector<uint8_t> rgb_;               // the picture shown
  std::vector<uint8_t> picture_;           // the record's, before it is compared with rgb_
  std::vector<uint8_t> shown_;             // for watching: rgb_ as the view shows it
  std::unique_ptr<PixelsViewYuv> pixels_;  // the pixels view, made 4:2:0 here
  bool shown_stale_ = true;                // rgb_ changed since shown_ was made
  std::vector<uint8_t> sound_;
};

}  // namespace trackloom::cli
