// A preview of a track as an ordinary video with sound at 18 fps (H.264 and AAC,
// in whatever container the file name asks for, MP4 usually), through libavcodec.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "cli/ffmpeg/record_video.h"

namespace trackloom::cli::ffmpeg {

// Whether path's name picks a container FFmpeg writes H.264 and AAC into.
bool PreviewVideoNameFits(const std::string& path);
// The extensions that do, e.g. ".3gp, .avi, .flv, .m4v, .mkv, .mov, .mp4, ...".
std::string PreviewVideoExtensions();

// How the video is encoded: a short preview seeks to any second; a whole disc for
// watching is long, so it is made several times faster (x264's fastest preset, which
// costs size, not looks, on pictures of large flat pixels), with a key picture every
// ten seconds, the sound at 22050 Hz, which still holds all of the 17640 Hz sound's,
// and coded by the AAC encoder's fast search (half its time; on this 8-bit sound no
// worse to the ear than its two-loop search).
struct PreviewPace {
  const char* preset = "veryfast";  // libx264's
  const char* crf = "18";
  int key_every = 18;  // records
  int audio_rate = 44100;
  const char* aac_coder = nullptr;  // the encoder's own choice
};
inline constexpr PreviewPace kWholeDiscPace{"ultrafast", "20", 180, 22050, "fast"};

// What AddRecord's pictures are: RGB, 3 bytes a pixel, or the encoder's own 4:2:0
// (BT.601 studio range; the Y plane, then U, then V, each a plane's width a row), which
// is copied in as it is.
enum class PreviewPictures { kRgb, kYuv420 };

class PreviewVideo final : public RecordVideo {
 public:
  // Null, with the reason in *error, when the encoders are missing or the file
  // cannot be created. Pictures are width x height (both even).
  static std::unique_ptr<PreviewVideo> Create(const std::string& path, int width, int height,
                                              std::string* error, PreviewPace pace = {},
                                              PreviewPictures pictures = PreviewPictures::kRgb);
  ~PreviewVideo() override;
  PreviewVideo(const PreviewVideo&) = delete;
  PreviewVideo& operator=(const PreviewVideo&) = delete;

  // One record: its picture (width x height, top row first, as the viewer shows it)
  // and its 1960 bytes of 8-bit stereo 17640 Hz sound.
  bool AddRecord(const uint8_t* rgb, const uint8_t* sound, std::string* error) override;
  // The next record begins a chapter of that title (where the container takes them).
  void BeginChapter(const std::string& title) override;
  // Drains the encoders and completes the file.
  bool Finish(std::string* error) override;

  struct State;

 private:
  explicit PreviewVideo(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace trackloom::cli::ffmpeg
