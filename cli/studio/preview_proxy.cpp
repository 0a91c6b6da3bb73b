#include "cli/studio/preview_proxy.h"

#include <zlib.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <fstream>
#include <system_error>

#include "cli/common/interrupt.h"
#include "cli/studio/still_preview.h"
#include "core/track_format.h"

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace trackloom::cli::studio {

namespace fs = std::filesystem;

namespace {

constexpr size_t kRecordBytes = size_t{3} * kPictureWidth * kPictureHeight;

std::string KeyOf(const std::string& input, const ffmpeg::PictureOptions& options) {
  return std::to_string(static_cast<int>(options.fit)) + ":" + input;
}

// What tells a file changed since its pass was made: its size and time of writing.
std::string IdentityOf(const std::string& input) {
  std::error_code ec;
  const auto size = fs::file_size(input, ec);
  if (ec) return "";
  const auto written = fs::last_write_time(input, ec);
  if (ec) return "";
  return std::to_string(size) + "/" + std::to_string(written.time_since_epoch().count());
}

}  // namespace

struct PreviewProxies::Pass {
  struct Entry {
    uint64_t offset;
    uint32_t size;
    double shown_seconds;
  };
  std::string input;
  ffmpeg::PictureOptions options;
  std::string identity;
  fs::path file;
  std::atomic<ProxyProgress::State> state{ProxyProgress::State::kWaiting};
  std::atomic<double> fraction{0};
  std::vector<Entry> entries;  // complete once state is kReady
};

PreviewProxies::PreviewProxies(fs::path cache)
    : cache_(std::move(cache)), worker_([this] { Run(); }) {}

PreviewProxies::~PreviewProxies() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  worker_.join();
}

std::shared_ptr<PreviewProxies::Pass> PreviewProxies::Find(const std::string& key) {
  const auto it = passes_.find(key);
  return it == passes_.end() ? nullptr : it->second;
}

void PreviewProxies::Want(const std::string& input, const ffmpeg::PictureOptions& options,
                          bool soon) {
  const std::string key = KeyOf(input, options);
  const std::string identity = IdentityOf(input);
  std::lock_guard lock(mutex_);
  std::shared_ptr<Pass> pass = Find(key);
  if (pass && pass->identity != identity && pass->state.load() != ProxyProgress::State::kMaking) {
    // The file was replaced: its pictures are made again.
    std::error_code ec;
    fs::remove(pass->file, ec);
    queue_.erase(std::remove(queue_.begin(), queue_.end(), pass), queue_.end());
    passes_.erase(key);
    pass = nullptr;
  }
  if (pass) {
    if (soon && pass->state.load() == ProxyProgress::State::kWaiting) {
      queue_.erase(std::remove(queue_.begin(), queue_.end(), pass), queue_.end());
      queue_.push_front(pass);
    }
    return;
  }
  pass = std::make_shared<Pass>();
  pass->input = input;
  pass->options = options;
  pass->identity = identity;
  pass->file = cache_ / ("proxy-" + std::to_string(++made_));
  passes_.emplace(key, pass);
  if (soon) {
    queue_.push_front(pass);
  } else {
    queue_.push_back(pass);
  }
  wake_.notify_one();
}

ProxyProgress PreviewProxies::Progress(const std::string& input,
                                       const ffmpeg::PictureOptions& options) {
  std::lock_guard lock(mutex_);
  const std::shared_ptr<Pass> pass = Find(KeyOf(input, options));
  if (!pass) return {};
  return {pass->state.load(), pass->fraction.load()};
}

std::optional<ProxyPicture> PreviewProxies::Picture(const std::string& input,
                                                    const ffmpeg::PictureOptions& options,
                                                    double seconds) {
  std::shared_ptr<Pass> pass;
  {
    std::lock_guard lock(mutex_);
    pass = Find(KeyOf(input, options));
  }
  if (!pass || pass->state.load() != ProxyProgress::State::kReady || pass->entries.empty() ||
      pass->identity != IdentityOf(input))
    return std::nullopt;
  // The player shows record floor(seconds x 18).
  const double slot = std::floor(std::max(0.0, seconds) * kFramesPerSecond + 1e-9);
  const size_t index = std::min(pass->entries.size() - 1, static_cast<size_t>(slot));
  const Pass::Entry& entry = pass->entries[index];
  std::ifstream in(pass->file, std::ios::binary);
  std::vector<uint8_t> packed(entry.size);
  in.seekg(static_cast<std::streamoff>(entry.offset));
  if (!in.read(reinterpret_cast<char*>(packed.data()), entry.size)) return std::nullopt;
  ProxyPicture picture;
  picture.record.resize(kRecordBytes);
  uLongf length = kRecordBytes;
  if (uncompress(picture.record.data(), &length, packed.data(), entry.size) != Z_OK ||
      length != kRecordBytes)
    return std::nullopt;
  picture.shown_seconds = entry.shown_seconds;
  return picture;
}

void PreviewProxies::Run() {
#ifdef __linux__
  // The page's own requests and a disc being made come first.
  setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), 10);
#endif
  for (;;) {
    std::shared_ptr<Pass> pass;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      pass = queue_.front();
      queue_.pop_front();
      pass->state = ProxyProgress::State::kMaking;
    }
    try {
      Make(*pass);
    } catch (const std::exception&) {
      // A video the pass cannot read is previewed from the video itself, whose
      // reading then tells why.
      pass->state = ProxyProgress::State::kDirect;
    }
    if (pass->state.load() == ProxyProgress::State::kMaking)
      pass->state = ProxyProgress::State::kDirect;
    if (pass->state.load() != ProxyProgress::State::kReady) {
      std::error_code ec;
      fs::remove(pass->file, ec);
    }
  }
}

void PreviewProxies::Make(Pass& pass) {
  std::unique_ptr<ffmpeg::VideoSource> source = ffmpeg::VideoSource::Open(pass.input, pass.options);
  if (source->still()) {
    pass.state = ProxyProgress::State::kDirect;
    return;
  }
  // The cache may be a memory disk: a pass takes at most a quarter of what is free,
  // and a video beyond that is previewed from the video itself.
  std::error_code ec;
  const uint64_t budget = fs::space(cache_, ec).available / 4;
  if (ec) return;
  std::ofstream out(pass.file, std::ios::binary | std::ios::trunc);
  const double rate = source->input_frame_rate();
  const int64_t expected = source->estimated_frames();
  std::vector<Pass::Entry> entries;
  std::vector<uint8_t> packed(compressBound(kRecordBytes));
  uint64_t offset = 0;
  ffmpeg::Picture picture{};
  bool whole = false;  // every picture made and kept
  for (;;) {
    if (!source->Next(picture)) {
      whole = !StopRequested();
      break;
    }
    {
      std::lock_guard lock(mutex_);
      if (stopping_) break;
    }
    const std::vector<uint8_t> record = RecordRgb(picture);
    uLongf size = packed.size();
    if (compress2(packed.data(), &size, record.data(), kRecordBytes, 1) != Z_OK ||
        offset + size > budget)
      break;
    if (!out.write(reinterpret_cast<const char*>(packed.data()),
                   static_cast<std::streamsize>(size)))
      break;  // the cache's disk is full: previews go on reading the video
    entries.push_back(
        {offset, static_cast<uint32_t>(size), static_cast<double>(picture.source_frame) / rate});
    offset += size;
    if (expected > 0)
      pass.fraction =
          std::min(1.0, static_cast<double>(entries.size()) / static_cast<double>(expected));
  }
  out.close();
  std::lock_guard lock(mutex_);
  if (!whole || stopping_ || !out || entries.empty()) {
    pass.state = ProxyProgress::State::kDirect;
    return;
  }
  pass.entries = std::move(entries);
  pass.fraction = 1;
  pass.state = ProxyProgress::State::kReady;
}

}  // namespace trackloom::cli::studio
