// A video file made of records, one picture and 1/18 s of sound each, whatever its
// codecs: the preview (H.264 and AAC) and the archive (FFV1 and the 8-bit sound as is).
#pragma once

#include <cstdint>
#include <string>

namespace trackloom::cli::ffmpeg {

class RecordVideo {
 public:
  virtual ~RecordVideo() = default;
  // The next record begins a chapter of that title.
  virtual void BeginChapter(const std::string& title) = 0;
  // One record: its picture as the file stores it (RGB, top row first) and its 1960
  // bytes of 8-bit stereo 17640 Hz sound.
  virtual bool AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) = 0;
  // Drains the encoders and completes the file; a file never completed is removed.
  virtual bool Finish(std::string* error) = 0;
};

}  // namespace trackloom::cli::ffmpeg
