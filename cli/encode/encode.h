// `trackloom encode`: any video into track files in one step, doing what an editor's
// user does by hand (resize to 144 x 80, convert to 18 fps, prepare the 8-bit
// 17640 Hz stereo sound, set the filter's three settings) and then rendering
// through the filter.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/duration.h"
#include "cli/common/reporter.h"
#include "cli/ffmpeg/audio_convert.h"
#include "cli/ffmpeg/video_source.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::encode {

struct EncodeOptions {
  std::string input;  // the one being encoded
  // Every input, in order: each starts a new track, numbered on from the last.
  std::vector<std::string> inputs;
  // The input is a source filter chain (e.g. "testsrc2=duration=5") rather than a
  // file, and generated_sound, if not empty, the one for its sound.
  bool generated = false;
  std::string generated_sound;
  std::optional<std::string> output_directory;
  // Track files already in the directory are replaced rather than refused.
  bool overwrite = false;
  ffmpeg::PictureOptions pictures;
  std::optional<std::string> audio_file;
  bool no_audio = false;
  ffmpeg::SoundOptions sound;
  std::vector<int> break_frames;    // every --break, as given
  std::vector<double> break_times;  // --break-at, in seconds
  bool break_at_chapters = false;   // --break-at chapters
  // --disc NAME: the disc image written after the tracks (name empty: none).
  DiscOptions disc;
  std::optional<std::string> settings_file;
  double disc_minutes = 80;
  // Where the encode's notes, progress and summary go, and how many of them.
  Reporter report;
  // When the input cannot tell its own length (a generated source), the caller may.
  int64_t known_frames = -1;
  // The run's plan knew this input's length and already weighed its disc time, so the
  // input's own encode does not warn about it again.
  bool length_planned = false;
  double break_every = 0;  // --break-every, in seconds (0: none)
};

// A --break value: frame numbers from 1 to 2147483647 separated by commas,
// semicolons or blanks, added to frames. Returns the first item that is not one
// (the whole text when it holds none), nothing when every item is.
std::optional<std::string> ReadBreakFrames(const std::string& text, std::vector<int>& frames);
// --break and --break-at as the source frames the filter breaks at, in order and each
// once, or nothing when neither (nor --break-every) is given: the saved list holds.
// Notes, unless quiet, what was put in order or found no chapters.
std::optional<std::vector<int>> BreakFrames(const EncodeOptions& o,
                                            const ffmpeg::VideoSource& video);
// The source frame shown at a time of the input, at its own frame rate.
int64_t FrameAtTime(double seconds, double frame_rate);

// What an encode did: its exit status (0 done, 1 failed, 2 a value the input showed
// wrong, or the interrupt's; the reason said through the reporter) and the paths of
// the tracks it wrote, in order.
struct EncodeResult {
  int status = 0;
  std::vector<std::string> tracks;
};

// Encodes every input in turn, each numbered on from the one before; a failure or a
// stop ends the run. Says what it does through options.report; prints nothing else.
EncodeResult Encode(const EncodeOptions& options);

}  // namespace trackloom::cli::encode
