// Decodes the first video stream of any input FFmpeg reads and turns it, through a
// libavfilter graph, into the pictures the filter takes: 144 x 80, 32-bit BGRA,
// exactly 18 frames per second by timestamps, shaped for the player's 4:3 screen and
// reduced to the 16 levels of its panel.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cli/ffmpeg/orientation.h"
#include "cli/ffmpeg/picture_shaping.h"
#include "cli/pictures/panel_levels.h"
#include "cli/pictures/panel_view.h"  // the 4:3 display shape
#include "cli/pictures/subpixel_sampling.h"
#include "core/track_format.h"

struct AVFrame;
struct AVStream;

namespace trackloom::cli::ffmpeg {

// What is done to the pictures, and which of it the user asked for: an input of
// exactly 144 x 80 is taken as made for the player and passed on untouched unless
// fit, dither, sampling or adaptive levels are asked for.
struct PictureOptions {
  Fit fit = Fit::kLetterbox;
  Dither dither = Dither::kOrdered;
  Sampling sampling = Sampling::kSubpixel;
  // Adaptive: the pictures come at full 8-bit precision, for the encode to reduce.
  LevelsMode levels = LevelsMode::kStandard;
  bool fit_given = false;
  bool dither_given = false;
  bool sampling_given = false;
  int video_stream = -1;  // the stream's number as ffprobe lists it; -1: chosen
};

struct Picture {
  const uint8_t* top_row;  // row 0 of the picture, the top one
  int stride;              // bytes from one row to the next one down
  int64_t source_frame;    // index of the input frame shown, at the input's own rate
};

// A picture held longer than this with no sound playing is a damaged or hostile
// timestamp (a jump of hours between two pictures, a frame rate of 5/13421773), not
// a still: repeating it would fill the disc with one picture.
inline constexpr double kMaxPictureGapSeconds = 10;

// The gaps in the pictures that were cut to one output frame.
struct GapReport {
  int count = 0;
  double first_at_seconds = 0;  // where the first one began, in the tracks' time
  double longest_seconds = 0;   // as the input had it
  void Add(double at_seconds, double seconds);
};

class VideoSource {
 public:
  // Opens input, a file or URL FFmpeg reads, or, when generated, a source filter
  // chain such as "testsrc2=size=320x180:rate=30:duration=12". Throws CliError with
  // a one-line reason when the input cannot be read or has no video.
  static std::unique_ptr<VideoSource> Open(const std::string& input, const PictureOptions& options,
                                           bool generated = false);
  ~VideoSource();
  VideoSource(const VideoSource&) = delete;
  VideoSource& operator=(const VideoSource&) = delete;

  // The next picture at 18 fps; false at the end of the input or when a stop was
  // requested. The picture stays valid until the next call. Throws CliError on a
  // decoding failure.
  bool Next(Picture& picture);
  // Starts the pictures at the key frame at or before seconds from the first picture,
  // for a look at one moment (the picture at a time is then the first Next() gives
  // whose source_frame reaches it). Only before the first Next(); false when the
  // input cannot seek, which leaves it at its start.
  bool SeekNear(double seconds);

  // The input's own frame rate, by which source frame numbers count.
  double input_frame_rate() const;
  // Frames at 18 fps the whole input gives, or -1 when its length is unknown.
  int64_t estimated_frames() const { return estimated_frames_; }
  // A single picture (a photo, or the cover art of a piece of music), shown for as
  // long as the sound plays: set_sound_seconds gives its length. Its pictures count
  // at 18 fps.
  bool still() const { return still_; }
  // Where the first picture sits on the input's timeline, in seconds: the sound
  // converted from the same input is lined up with it. Negative for a still, whose
  // sound starts where the sound itself starts.
  double video_start_seconds() const { return video_start_seconds_; }
  // Where the input's chapters (Matroska, MP4) begin, in seconds from its first
  // picture, in the container's order; empty when it has none.
  const std::vector<double>& chapter_starts() const { return chapter_starts_; }
  // The chain for the picture size the input declares; the graph itself is set up
  // from the first decoded picture, which is what counts where the two differ.
  const std::string& filter_chain() const;
  // What was done to the pictures, for the summary, once the first one was read:
  // "16:9 picture letterboxed into the 4:3 screen, ordered dithering".
  const std::string& picture_summary() const;
  // Which video stream is read, when the input has several, e.g. "stream 1 (h264,
  // 1920 x 1080) of 2; not read: stream 0 (png, 600 x 600, one picture) ..."; empty
  // when it has one.
  const std::string& stream_summary() const;
  // Why reading stopped before the end of the input, or empty: the pictures up to
  // there are delivered and the input then ends, as a truncated file does.
  const std::string& read_error() const;
  // How long the sound that goes with the pictures lasts from their start; while it
  // plays, a picture is held however long the input holds it, and a still for all of
  // it (at least the two pictures a track needs).
  void set_sound_seconds(double seconds);
  // The gaps cut so far.
  const GapReport& gaps() const;
  // The packets of the video the decoder refused as damaged, and the pictures it
  // could not decode, so far: each was skipped, and the picture before it held.
  int64_t damaged_packets() const;
  int input_width() const;
  int input_height() const;

 private:
  struct Impl;
  explicit VideoSource(std::unique_ptr<Impl> impl);
  static std::unique_ptr<VideoSource> OpenGenerated(std::unique_ptr<Impl> impl,
                                                    const std::string& description);
  // The start, the estimated length and the chapters, from the stream and its container.
  void ReadTimeline(const AVStream* stream);

  std::unique_ptr<Impl> impl_;
  int64_t estimated_frames_ = -1;
  bool still_ = false;
  double video_start_seconds_ = 0;
  std::vector<double> chapter_starts_;
};

}  // namespace trackloom::cli::ffmpeg
