#include "cli/sdl/sdl_player.h"

#include <SDL.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"
#include "cli/pictures/panel_view.h"
#include "core/track_format.h"

namespace trackloom::cli::sdl {

namespace {

constexpr int kRecordsPerSecond = kFramesPerSecond;
constexpr int kSoundRate = kSoundSampleRate;  // 8-bit unsigned stereo, as the audio slots carry it
constexpr uint64_t kSoundBytesPerSecond = uint64_t{kAudioChunkSize} * kRecordsPerSecond;  // 35280
static_assert(kSoundBytesPerSecond == uint64_t{kSoundRate} * kSoundChannels);
// 512 sample frames: 29 ms a device buffer, short enough for the picture to follow.
constexpr Uint16 kDeviceBufferFrames = 512;
// Records read and queued ahead of the one on screen: a second of sound, enough to
// ride out a busy moment of the machine without a gap. Jumps and pauses do not wait
// for it: a jump drops what is queued, a pause stops the device.
constexpr size_t kRecordsAhead = kRecordsPerSecond;
constexpr int kEventWaitMs = 5;

// The playback clock, counted in sound bytes queued since playing began.
class Clock {
 public:
  virtual ~Clock() = default;
  virtual void Queue(const uint8_t* sound, uint32_t size) = 0;
  virtual uint64_t Queued() const = 0;
  // Sound bytes heard so far (without sound: bytes whose time has passed).
  virtual uint64_t Heard() = 0;
  // Queued bytes not yet taken by the sound device.
  virtual uint64_t Pending() = 0;
  // How long the last byte taken by the device takes to be heard.
  virtual uint32_t DrainMs() const = 0;
  // Drops everything queued and not yet taken: a jump to another track.
  virtual void Clear() = 0;
  virtual void Pause(bool paused) = 0;
};

class SoundClock final : public Clock {
 public:
  // Null, with SDL's reason in *error, when no sound device can be opened.
  static std::unique_ptr<SoundClock> Open(std::string* error) {
    // Without a sound card libasound prints eight lines of its configuration errors on
    // stderr by itself; SDL's reason says the same in one, so stderr is shut meanwhile.
    std::fflush(stderr);
    const UniqueFd saved_stderr(dup(STDERR_FILENO));
    if (const UniqueFd null(open("/dev/null", O_WRONLY | O_CLOEXEC)); saved_stderr && null)
      dup2(null.get(), STDERR_FILENO);
    SDL_AudioDeviceID device = 0;
    SDL_AudioSpec have{};
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
      SDL_AudioSpec want{};
      want.freq = kSoundRate;
      want.format = AUDIO_U8;
      want.channels = kSoundChannels;
      want.samples = kDeviceBufferFrames;
      // No changes allowed: SDL converts to whatever the device takes.
      device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (saved_stderr) dup2(saved_stderr.get(), STDERR_FILENO);
    if (device == 0) {
      *error = SDL_GetError();
      return nullptr;
    }
    return std::unique_ptr<SoundClock>(new SoundClock(device, have.size));
  }
  ~SoundClock() override { SDL_CloseAudioDevice(device_); }

  void Queue(const uint8_t* sound, uint32_t size) override {
    if (SDL_QueueAudio(device_, sound, size) == 0) queued_ += size;
  }
  uint64_t Queued() const override { return queued_; }
  uint64_t Heard() override {
    const uint64_t taken = queued_ - std::min<uint64_t>(queued_, SDL_GetQueuedAudioSize(device_));
    return taken - std::min<uint64_t>(taken, buffer_bytes_);
  }
  uint64_t Pending() override { return SDL_GetQueuedAudioSize(device_); }
  uint32_t DrainMs() const override {
    return static_cast<uint32_t>(uint64_t{buffer_bytes_} * 1000 / kSoundBytesPerSecond) + 1;
  }
  void Clear() override {
    SDL_LockAudioDevice(device_);
    queued_ -= std::min<uint64_t>(queued_, SDL_GetQueuedAudioSize(device_));
    SDL_ClearQueuedAudio(device_);
    SDL_UnlockAudioDevice(device_);
  }
  void Pause(bool paused) override { SDL_PauseAudioDevice(device_, paused ? 1 : 0); }

 private:
  SoundClock(SDL_AudioDeviceID device, uint32_t buffer_bytes)
      : device_(device), buffer_bytes_(buffer_bytes) {}
  SDL_AudioDeviceID device_;
  uint32_t buffer_bytes_;  // one device buffer: sound taken but not yet heard
  uint64_t queued_ = 0;
};

// Without sound, time itself: it never runs ahead of what is queued, so a slow
// moment delays the pictures instead of skipping them.
class TimerClock final : public Clock {
 public:
  void Queue(const uint8_t*, uint32_t size) override { queued_ += size; }
  uint64_t Queued() const override { return queued_; }
  uint64_t Heard() override {
    const Uint64 now = SDL_GetPerformanceCounter();
    if (!paused_) {
      const double seconds =
          static_cast<double>(now - last_) / static_cast<double>(SDL_GetPerformanceFrequency());
      heard_ += seconds * static_cast<double>(kSoundBytesPerSecond);
      heard_ = std::min(heard_, static_cast<double>(queued_));
    }
    last_ = now;
    return static_cast<uint64_t>(heard_);
  }
  uint64_t Pending() override { return queued_ - Heard(); }
  uint32_t DrainMs() const override { return 0; }
  void Clear() override { queued_ = Heard(); }
  void Pause(bool paused) override {
    Heard();
    paused_ = paused;
  }

 private:
  uint64_t queued_ = 0;
  double heard_ = 0;
  Uint64 last_ = SDL_GetPerformanceCounter();
  bool paused_ = true;  // like a sound device, it starts when told to
};

bool NonEmpty(const char* text) { return text != nullptr && text[0] != '\0'; }

// "1:05" for 65 s.
std::string MinutesSeconds(uint64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                static_cast<unsigned long long>(seconds % 60));
  return text;
}

struct QueuedRecord {
  size_t track = 0;
  uint64_t record = 0;
  uint64_t start = 0;  // where its sound begins on the clock
  std::vector<uint8_t> rgb;
};

class Player {
 public:
  Player(std::vector<PlayTrack>& tracks, const PlayerOptions& options, std::FILE* err)
      : tracks_(tracks), options_(options), err_(err) {}
  ~Player() {
    clock_.reset();
    if (texture_ != nullptr) SDL_DestroyTexture(texture_);
    if (renderer_ != nullptr) SDL_DestroyRenderer(renderer_);
    if (window_ != nullptr) SDL_DestroyWindow(window_);
    SDL_Quit();
  }

  int Run() {
    if (!OpenWindow()) return 1;
    OpenClock();
    QueueAhead();
    ShowCurrent();
    clock_->Pause(false);
    Uint64 drained_at = 0;
    while (!quit_) {
      SDL_Event event;
      if (SDL_WaitEventTimeout(&event, kEventWaitMs) != 0) {
        do {
          Handle(event);
        } while (!quit_ && SDL_PollEvent(&event) != 0);
      }
      if (quit_) break;
      QueueAhead();
      ShowCurrent();
      // The end: nothing left to read, and the last sound has been heard.
      if (cursor_track_ >= tracks_.size() && queue_.size() <= 1 && clock_->Pending() == 0) {
        if (drained_at == 0) drained_at = SDL_GetTicks64();
        if (SDL_GetTicks64() - drained_at >= clock_->DrainMs()) break;
      } else {
        drained_at = 0;
      }
    }
    return 0;
  }

 private:
  bool OpenWindow() {
    // Without a display SDL would try Wayland (which prints its own complaint) and
    // then settle for an invisible off-screen window; neither helps anyone.
    const bool driver_chosen = NonEmpty(std::getenv("SDL_VIDEODRIVER"));
#ifndef _WIN32  // Windows always has its desktop; SDL's own driver for it is the one
    if (!driver_chosen && !NonEmpty(std::getenv("DISPLAY")) &&
        !NonEmpty(std::getenv("WAYLAND_DISPLAY"))) {
      PrintError(err_,
                 "no display to open a window on (DISPLAY is not set); run it in a desktop "
                 "session");
      return false;
    }
    if (!driver_chosen && !NonEmpty(std::getenv("WAYLAND_DISPLAY")))
      SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
#endif
    if (SDL_Init(SDL_INIT_VIDEO) != 0) {
      PrintError(err_, Format("cannot open the display '%s' (%s); run it in a desktop session",
                              NonEmpty(std::getenv("DISPLAY")) ? std::getenv("DISPLAY") : "",
                              SDL_GetError()));
      return false;
    }
    const std::string_view driver = SDL_GetCurrentVideoDriver();
    if (!driver_chosen && (driver == "offscreen" || driver == "dummy")) {
      PrintError(err_, Format("no display to open a window on (DISPLAY %s cannot be opened); run "
                              "it in a desktop session",
                              std::getenv("DISPLAY") != nullptr ? std::getenv("DISPLAY") : ""));
      return false;
    }
    const PictureRect size = PanelDisplaySize(options_.scale);
    window_ = SDL_CreateWindow("trackloom play", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED,
                               size.width, size.height, SDL_WINDOW_RESIZABLE);
    if (window_ != nullptr) renderer_ = SDL_CreateRenderer(window_, -1, 0);
    if (renderer_ == nullptr) {
      PrintError(err_, Format("cannot open a window (%s)", SDL_GetError()));
      return false;
    }
    return true;
  }

  void OpenClock() {
    if (options_.sound) {
      std::string error;
      clock_ = SoundClock::Open(&error);
      if (clock_ == nullptr) {
        PrintError(err_, "no sound (" + error + "); playing the pictures on their own");
      }
    }
    if (clock_ == nullptr) clock_ = std::make_unique<TimerClock>();
  }

  void Handle(const SDL_Event& event) {
    if (event.type == SDL_QUIT) {
      quit_ = true;
    } else if (event.type == SDL_WINDOWEVENT) {
      if (event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED ||
          event.window.event == SDL_WINDOWEVENT_EXPOSED) {
        Present();
      }
    } else if (event.type == SDL_KEYDOWN) {
      const SDL_Keycode key = event.key.keysym.sym;
      const bool repeat = event.key.repeat != 0;
      if (key == SDLK_q || key == SDLK_ESCAPE) {
        quit_ = true;
      } else if (key == SDLK_SPACE && !repeat) {
        paused_ = !paused_;
        clock_->Pause(paused_);
        UpdateTitle();
      } else if (key == SDLK_RIGHT) {
        if (shown_track_ + 1 < tracks_.size()) JumpTo(shown_track_ + 1);
      } else if (key == SDLK_LEFT) {
        JumpTo(shown_track_ == 0 ? 0 : shown_track_ - 1);
      } else if (key == SDLK_f && !repeat) {
        full_screen_ = !full_screen_;
        SDL_SetWindowFullscreen(window_, full_screen_ ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
      }
    }
  }

  void JumpTo(size_t track) {
    clock_->Clear();
    queue_.clear();
    cursor_track_ = track;
    cursor_record_ = 0;
    QueueAhead();
    ShowCurrent();
  }

  // A record that cannot be read, or whose header is not a record header, is shown
  // black and heard as silence: the player would find nothing there either.
  void ReadRecord(const PlayTrack& track, uint64_t k, uint8_t* rgb, uint8_t* sound) {
    const bool ok = track.source->ReadAt(track.first_record + k * kFrameRecordSize, record_.data(),
                                         record_.size()) &&
                    IsRecordHeader(record_.data());
    if (!ok) {
      std::memset(rgb, 0, kRgbPictureSize);
      std::memset(sound, kSilence, kAudioChunkSize);
      return;
    }
    DecodeRecordPicture(record_.data(), rgb);
    ExtractRecordSound(record_.data(), sound);
  }

  void QueueAhead() {
    uint8_t sound[kAudioChunkSize];
    while (queue_.size() < kRecordsAhead && cursor_track_ < tracks_.size()) {
      const PlayTrack& track = tracks_[cursor_track_];
      if (cursor_record_ >= track.record_count) {
        ++cursor_track_;  // the next track follows without a gap, as on a disc
        cursor_record_ = 0;
        continue;
      }
      QueuedRecord q;
      q.track = cursor_track_;
      q.record = cursor_record_++;
      q.start = clock_->Queued();
      q.rgb.resize(kRgbPictureSize);
      ReadRecord(track, q.record, q.rgb.data(), sound);
      clock_->Queue(sound, sizeof sound);
      queue_.push_back(std::move(q));
    }
  }

  void ShowCurrent() {
    const uint64_t heard = clock_->Heard();
    while (queue_.size() > 1 && queue_[1].start <= heard) queue_.pop_front();
    if (queue_.empty()) return;
    const QueuedRecord& now = queue_.front();
    if (shown_valid_ && now.track == shown_track_ && now.record == shown_record_) return;
    shown_valid_ = true;
    shown_track_ = now.track;
    shown_record_ = now.record;
    RenderPanel(now.rgb.data(), panel_.data());
    Present();
    UpdateTitle();
  }

  void Present() {
    int width = 0;
    int height = 0;
    if (SDL_GetRendererOutputSize(renderer_, &width, &height) != 0 || width <= 0 || height <= 0)
      return;
    const PictureRect place = FitDisplayShape(width, height);
    if (place.width <= 0 || place.height <= 0) return;
    if (texture_ == nullptr || place.width != texture_width_ || place.height != texture_height_) {
      if (texture_ != nullptr) SDL_DestroyTexture(texture_);
      texture_ = SDL_CreateTexture(renderer_, SDL_PIXELFORMAT_RGB24, SDL_TEXTUREACCESS_STREAMING,
                                   place.width, place.height);
      if (texture_ == nullptr) return;
      texture_width_ = place.width;
      texture_height_ = place.height;
      scaled_.resize(static_cast<size_t>(place.width) * static_cast<size_t>(place.height) * 3);
    }
    ScalePanel(panel_.data(), place.width, place.height, scaled_.data());
    SDL_UpdateTexture(texture_, nullptr, scaled_.data(), place.width * 3);
    SDL_SetRenderDrawColor(renderer_, 0, 0, 0, 255);
    SDL_RenderClear(renderer_);
    const SDL_Rect target{place.x, place.y, place.width, place.height};
    SDL_RenderCopy(renderer_, texture_, nullptr, &target);
    SDL_RenderPresent(renderer_);
  }

  // "Track 2/5  0:03 / 1:10  VDN Track 02.wav - trackloom play"
  void UpdateTitle() {
    if (!shown_valid_) return;
    const PlayTrack& track = tracks_[shown_track_];
    const std::string title = "Track " + std::to_string(shown_track_ + 1) + "/" +
                              std::to_string(tracks_.size()) + "  " +
                              MinutesSeconds(shown_record_ / kRecordsPerSecond) + " / " +
                              MinutesSeconds(track.record_count / kRecordsPerSecond) +
                              (paused_ ? "  paused" : "") + "  " + track.name + " - trackloom play";
    if (title != title_) {
      title_ = title;
      SDL_SetWindowTitle(window_, title.c_str());
    }
  }

  std::vector<PlayTrack>& tracks_;
  const PlayerOptions options_;
  std::FILE* err_;
  SDL_Window* window_ = nullptr;
  SDL_Renderer* renderer_ = nullptr;
  SDL_Texture* texture_ = nullptr;
  int texture_width_ = 0;
  int texture_height_ = 0;
  std::unique_ptr<Clock> clock_;

  std::vector<uint8_t> record_ = std::vector<uint8_t>(kFrameRecordSize);
  std::vector<uint8_t> panel_ = std::vector<uint8_t>(kPanelImageSize);
  std::vector<uint8_t> scaled_;
  std::deque<QueuedRecord> queue_;
  size_t cursor_track_ = 0;  // the next record to read and queue
  uint64_t cursor_record_ = 0;
  bool shown_valid_ = false;
  size_t shown_track_ = 0;
  uint64_t shown_record_ = 0;
  std::string title_;
  bool paused_ = false;
  bool full_screen_ = false;
  bool quit_ = false;
};

}  // namespace

int RunPlayer(std::vector<PlayTrack>& tracks, const PlayerOptions& options, std::FILE* err) {
  return Player(tracks, options, err).Run();
}

}  // namespace trackloom::cli::sdl
