// A disc read from its first audio track to its last as one stream of CD audio bytes,
// whatever holds it: a drive, a disc image's files, or track files a ripper wrote.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "cli/tracks/disc_image.h"
#include "cli/tracks/record_stream.h"

namespace trackloom::cli {

// A track the source holds less of than it should: an image or a track file cut short.
struct CutTrack {
  int number = 0;
  uint64_t held = 0;     // bytes there are (0: the track is missing)
  uint64_t cut_off = 0;  // bytes missing, 0 when the source does not say
};

class DiscReader {
 public:
  virtual ~DiscReader() = default;
  // The audio tracks, in stream order; between two of them may lie bytes that are
  // neither's (a pre-gap).
  const std::vector<StreamTrack>& tracks() const { return tracks_; }
  // Tracks that hold data, not audio, by number: never read.
  const std::vector<int>& data_tracks() const { return data_tracks_; }
  // Tracks cut short, in disc order; a missing one is not among tracks().
  const std::vector<CutTrack>& cut_tracks() const { return cut_tracks_; }
  uint64_t total() const;  // the stream's length
  // The next bytes of the stream into out, at most max: how many, 0 at its end, or -1
  // with the reason in *error.
  virtual int64_t Read(uint8_t* out, size_t max, std::string* error) = 0;
  // How the disc is read, for the report: "libcdio", "the sheet's files", ...
  virtual std::string how() const = 0;
  // Damaged sectors the reading itself found (a drive's read errors), if it can tell.
  virtual uint64_t read_errors() const { return 0; }
  // The stream's bytes the reading could not read since the last call (handed on as
  // zeros), as (first byte, length).
  virtual std::vector<std::pair<uint64_t, uint64_t>> TakeUnreadable() { return {}; }

 protected:
  std::vector<StreamTrack> tracks_;
  std::vector<int> data_tracks_;
  std::vector<CutTrack> cut_tracks_;
};

// A disc image's tracks read from the files its sheet names, each after its pre-gap.
std::unique_ptr<DiscReader> OpenImageFiles(const DiscImage& image, std::string* error);

// Track files a ripper wrote (WAV files of CD audio), one track each, in the order
// given; one cut short is read up to its end. Nothing, with the reason in *error,
// when one is not a WAV of CD audio.
std::unique_ptr<DiscReader> OpenTrackWavs(const std::vector<std::string>& paths,
                                          std::string* error);

}  // namespace trackloom::cli
