// A video file written on a thread of its own: the records are read, found and taken
// apart on the caller's thread while the encoders work on another, which on a
// machine of two or more cores makes a whole disc's rip about as fast as its encoding.
#pragma once

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "cli/ffmpeg/record_video.h"

namespace trackloom::cli::ffmpeg {

class BackgroundVideo final : public RecordVideo {
 public:
  // picture_bytes: the size of every picture AddRecord is given.
  BackgroundVideo(std::unique_ptr<RecordVideo> video, size_t picture_bytes);
  // Stops the thread; a file not finished is removed as the video's own would be.
  ~BackgroundVideo() override;
  BackgroundVideo(const BackgroundVideo&) = delete;
  BackgroundVideo& operator=(const BackgroundVideo&) = delete;

  void BeginChapter(const std::string& title) override;
  // Queues the record; false, with the reason, once the thread failed at one before.
  bool AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) override;
  // Waits for every queued record, then completes the file.
  bool Finish(std::string* error) override;

 private:
  struct Item {
    std::vector<uint8_t> picture;
    std::vector<uint8_t> sound;
    std::string chapter;  // a chapter's title, or empty for a record
  };
  void Push(Item item);
  void Work();
  void Stop();

  std::unique_ptr<RecordVideo> video_;
  size_t picture_bytes_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Item> queue_;
  std::vector<Item> spare_;  // emptied items, their buffers kept for the next records
  bool closing_ = false;
  bool failed_ = false;
  std::string error_;
  std::thread worker_;
};

}  // namespace trackloom::cli::ffmpeg
