// The archival copy of tracks as a Matroska file: the stored 144 x 80 pictures
// lossless (FFV1), flagged for the player's 4:3 screen, at 18 fps, and the 8-bit
// stereo 17640 Hz sound exactly as the tracks hold it, with chapters.
#pragma once

#include <memory>
#include <string>

#include "cli/ffmpeg/record_video.h"

namespace trackloom::cli::ffmpeg {

class ArchiveVideo final : public RecordVideo {
 public:
  // Null, with the reason in *error, when the encoder is missing or the file cannot
  // be created.
  static std::unique_ptr<ArchiveVideo> Create(const std::string& path, std::string* error);
  ~ArchiveVideo() override;
  ArchiveVideo(const ArchiveVideo&) = delete;
  ArchiveVideo& operator=(const ArchiveVideo&) = delete;

  void BeginChapter(const std::string& title) override;
  // rgb: 144 x 80 pixels.
  bool AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) override;
  bool Finish(std::string* error) override;

  struct State;

 private:
  explicit ArchiveVideo(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace trackloom::cli::ffmpeg
