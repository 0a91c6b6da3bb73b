// The steps of trackloom encode for one input, each in a file of its own: the plan
// (encode_plan.cpp), the sound (encode_sound.cpp), the render (encode_render.cpp) and
// the report (encode_report.cpp); encode_command.cpp runs them in order for every input.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/common/cli_error.h"
#include "cli/common/platform.h"
#include "cli/common/read_once.h"
#include "cli/common/temp_file.h"
#include "cli/encode/encode.h"
#include "cli/encode/filter_session.h"
#include "cli/tracks/track_files.h"
#include "runner/editor.h"

namespace trackloom::cli::encode {

// What an encode will do, settled before anything is written.
struct EncodePlan {
  std::string directory;
  std::optional<std::string> audio_file;  // the sound from another file than the input
  // The copies of an input and an audio_file that can be read only once. They outlive
  // video, which holds them open: Windows cannot remove a file that is still open.
  std::unique_ptr<TempFile> input_copy;
  std::unique_ptr<TempFile> audio_copy;
  // A read-once input that cannot carry sound, handed on as it comes; it outlives
  // video, which reads it.
  std::unique_ptr<ReadOnceInput> relayed;
  std::unique_ptr<ffmpeg::VideoSource> video;
  // What is opened for the input and for audio_file: themselves, or those copies.
  std::string source;
  std::string audio_source;
  std::string breaks;                            // in the filter's list form
  std::optional<std::vector<int>> break_frames;  // from the command line, in order
  int64_t expected = -1;                         // records, where known
  double disc_limit = 0;                         // seconds of disc time a disc holds
  int64_t far_records = 0;  // records past which the encode is taken for a mistake
  std::string far_text;     // how the messages name that limit
};

struct AudioPlan {
  std::string path;             // what the filter reads; empty: silent
  std::string description;      // for the summary
  double seconds = 0;           // how long it plays, where known
  int64_t damaged_packets = 0;  // of the sound, refused by its decoder and skipped
  std::string source;           // the file the sound was read from, for messages
};

// What the render left behind.
struct RenderOutcome {
  runner::RenderReport report;
  std::optional<std::string> source_failure;  // why the pictures ended early
  std::vector<TrackFileInfo> tracks;          // the ones this render wrote
  bool interrupted = false;
  bool warned_disc = false;  // the disc-time warning was given beforehand
  int64_t last_source_frame = -1;
  std::vector<int>
      breaks_past_the_end;           // of the command line's, when the input was read to its end
  int32_t tracks_opened = 0;         // the filter's count: the number of the last track it opened
  std::vector<std::string> removed;  // tracks of an earlier encode removed afterwards
};

// FFmpeg's messages about the copy of a read-once input name the input as given.
template <typename Work>
auto NamingInput(const std::string& path, const std::string& name, Work work) {
  try {
    return work();
  } catch (const CliError& e) {
    std::string message = e.what();
    if (path == name) throw;
    for (size_t at = message.find(path); at != std::string::npos;
         at = message.find(path, at + name.size())) {
      message.replace(at, path.size(), name);
    }
    throw CliError(message);
  }
}

// The file system's own limits for the names the encode makes in directory.
void CheckNameLimits(const EncodeOptions& o, const std::string& directory);

// "100,250": frames in the filter's list form.
std::string BreakListText(const std::vector<int>& frames);

// Why a still picture cannot be encoded without sound; instead: how the user asked
// for no sound, if they did.
std::string StillWithoutSound(const std::string& input, const std::string& instead = "");

// claim makes the output directory ready (made, locked, checked for earlier tracks):
// called before anything is written into it.
EncodePlan PlanEncode(const EncodeOptions& o, FilterSession& session,
                      const std::function<void(const std::string&)>& claim);

// The sound the filter reads: as given, converted from another file, converted from
// the input, or none. Nothing when Ctrl-C stopped the conversion.
std::optional<AudioPlan> PrepareSound(const EncodeOptions& o, EncodePlan& plan, TempFile& temp);

// Why the tracks went silent early when file (the sound the filter read, audio) was
// cut short while the encode read it; empty when it was not.
std::string SoundCutShort(const std::string& file, const AudioPlan& audio,
                          const struct stat& before, const RenderOutcome& r);

// Renders plan's pictures with audio through the filter into plan.directory.
RenderOutcome RenderTracks(const EncodeOptions& o, EncodePlan& plan, const AudioPlan& audio,
                           FilterSession& session);

// Why the encode failed, in the user's terms; empty when it did not.
std::string ExplainFailure(const EncodeOptions& o, const std::string& directory,
                           const RenderOutcome& r);

// The failure or the interrupt, then the summary, and the exit status they give.
int ReportEncode(const EncodeOptions& o, const EncodePlan& plan, const AudioPlan& audio,
                 const RenderOutcome& r, const std::string& failure);

}  // namespace trackloom::cli::encode
