// Previews at once: once a video is picked, its pictures are made in the background
// at the player's 18 a second by the encode's own picture path, and kept compressed
// in the studio's private cache. A preview of any moment is then one picture read
// back, however far apart the video's key frames lie; until the pass is done, the
// preview decodes from the nearest key frame as before.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/ffmpeg/video_source.h"

namespace trackloom::cli::studio {

// One picture of the pass: the record at the player's levels (RGB, 144 x 80) and the
// time of the input picture it shows.
struct ProxyPicture {
  std::vector<uint8_t> record;
  double shown_seconds = 0;
};

// How far the pass of one video has come.
struct ProxyProgress {
  // kDirect: none is made (a still, or a video the pass could not read): previews
  // read the video itself.
  enum class State { kNone, kWaiting, kMaking, kReady, kDirect } state = State::kNone;
  double fraction = 0;  // of the video's pictures, while making
};

class PreviewProxies {
 public:
  // Passes keep their files in cache, which outlives this object.
  explicit PreviewProxies(std::filesystem::path cache);
  ~PreviewProxies();  // stops the pass under way and waits for it
  PreviewProxies(const PreviewProxies&) = delete;
  PreviewProxies& operator=(const PreviewProxies&) = delete;

  // Asks for the pass of input as shaped by options (only the fit differs between
  // the page's videos); soon is for the video on screen, which goes first. A still
  // picture needs none: its one picture is quick to make.
  void Want(const std::string& input, const ffmpeg::PictureOptions& options, bool soon);
  // The picture at seconds, once the pass is done (the last one past the end).
  std::optional<ProxyPicture> Picture(const std::string& input,
                                      const ffmpeg::PictureOptions& options, double seconds);
  ProxyProgress Progress(const std::string& input, const ffmpeg::PictureOptions& options);

 private:
  struct Pass;
  std::shared_ptr<Pass> Find(const std::string& key);
  void Run();
  void Make(Pass& pass);

  std::filesystem::path cache_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::map<std::string, std::shared_ptr<Pass>> passes_;
  std::deque<std::shared_ptr<Pass>> queue_;
  bool stopping_ = false;
  int made_ = 0;  // names the passes' files
  std::thread worker_;
};

}  // namespace trackloom::cli::studio
