#include "cli/ffmpeg/background_video.h"

#include <algorithm>
#include <cstring>

#include "core/track_format.h"

namespace trackloom::cli::ffmpeg {
namespace {

// What may wait for the encoders: enough records to ride out an uneven encoder,
// little memory whatever the pictures' size.
constexpr size_t kQueueBytes = 4 << 20;
constexpr size_t kQueueLeast = 4;

}  // namespace

BackgroundVideo::BackgroundVideo(std::unique_ptr<RecordVideo> video, size_t picture_bytes)
    : video_(std::move(video)), picture_bytes_(picture_bytes), worker_([this] { Work(); }) {}

BackgroundVideo::~BackgroundVideo() { Stop(); }

void BackgroundVideo::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    closing_ = true;
  }
  changed_.notify_all();
  if (worker_.joinable()) worker_.join();
}

void BackgroundVideo::Push(Item item) {
  std::unique_lock<std::mutex> lock(mutex_);
  const size_t room = std::max(kQueueLeast, kQueueBytes / (picture_bytes_ + kAudioChunkSize));
  changed_.wait(lock, [&] { return queue_.size() < room || failed_; });
  queue_.push_back(std::move(item));
  changed_.notify_all();
}

void BackgroundVideo::BeginChapter(const std::string& title) {
  Item item;
  item.chapter = title;
  Push(std::move(item));
}

bool BackgroundVideo::AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) {
  Item item;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (failed_) {
      *error = error_;
      return false;
    }
    if (!spare_.empty()) {
      item = std::move(spare_.back());
      spare_.pop_back();
    }
  }
  item.picture.assign(rgb, rgb + picture_bytes_);
  item.sound.assign(sound, sound + kAudioChunkSize);
  Push(std::move(item));
  return true;
}

void BackgroundVideo::Work() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    changed_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (queue_.empty()) return;
    Item item = std::move(queue_.front());
    queue_.pop_front();
    changed_.notify_all();
    if (failed_) continue;  // the rest is dropped; the caller hears of the failure
    lock.unlock();
    std::string error;
    bool ok = true;
    if (!item.chapter.empty()) {
      video_->BeginChapter(item.chapter);
      item.chapter.clear();
    } else {
      ok = video_->AddRecord(item.picture.data(), item.sound.data(), &error);
    }
    lock.lock();
    if (!ok) {
      failed_ = true;
      error_ = error;
      changed_.notify_all();
    }
    spare_.push_back(std::move(item));
  }
}

bool BackgroundVideo::Finish(std::string* error) {
  Stop();  // the thread writes every queued record before it ends
  if (failed_) {
    *error = error_;
    return false;
  }
  return video_->Finish(error);
}

}  // namespace trackloom::cli::ffmpeg
