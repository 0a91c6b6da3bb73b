// Disc images of track files: a BIN of raw CD audio with its cue sheet, or a cdrdao TOC,
// read back as the tracks a player finds on the burnt disc; and the CD audio inside a
// WAV file, which is what goes into an image.
//
// CD audio here is always 44100 Hz, 16-bit, stereo: 4 bytes a sample frame, 2352 bytes
// (588 frames) a sector, 75 sectors a second. A track of a disc image carries the
// bytes a track file holds after its 44-byte WAV header, then zero bytes up to a whole
// sector.
//
// Reading an image:
//   std::string error;
//   std::optional<DiscImage> image = ReadDiscImage("film.cue", &error);
//   for (const DiscTrack& track : image->tracks) {
//     std::unique_ptr<ByteSource> audio = OpenDiscTrack(track, &error);
//     InspectOptions options;
//     options.headerless = true;
//     TrackReport report = InspectTrack(*audio, options);
//     // records at audio offsets report.first_record + k * 19600
//   }
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cli/tracks/track_reader.h"

namespace trackloom::cli {

inline constexpr uint64_t kCdSectorBytes = 2352;
inline constexpr uint64_t kCdSectorsPerSecond = 75;
inline constexpr uint64_t kCdBytesPerSecond = kCdSectorBytes * kCdSectorsPerSecond;  // 176400
inline constexpr int kCdMaxTracks = 99;
// The longest disc any sheet may describe: 100 minutes, more than the longest blank.
inline constexpr uint64_t kCdMaxSectors = 100 * 60 * kCdSectorsPerSecond;
inline constexpr uint64_t kCdMinTrackSectors = 4 * kCdSectorsPerSecond;  // 4 s
// Every disc starts with 2 s of silence before track 1's index 1; it takes disc space.
inline constexpr uint64_t kCdFirstPregapSectors = 2 * kCdSectorsPerSecond;

// A run of CD audio bytes in a file.
struct AudioRange {
  std::string path;
  uint64_t offset = 0;
  uint64_t length = 0;
  uint64_t cut_off = 0;  // bytes its data chunk states past the file's end
};

// Where the CD audio of a WAV file is: its data chunk, found by walking the RIFF
// chunks (rippers add LIST and other chunks before it). Nothing, with the reason in
// *error, when the file is not a WAV of 44100 Hz 16-bit stereo PCM, or is cut off
// (its data chunk reaching past the file's end) unless take_cut: then the audio it
// holds, what is missing in cut_off.
std::optional<AudioRange> FindWavAudio(const std::string& path, std::string* error,
                                       bool take_cut = false);

// One piece of a track's audio: a byte range of a file, or silence when path is empty.
struct DiscPiece {
  std::string path;
  uint64_t offset = 0;
  uint64_t length = 0;
  bool big_endian = false;  // samples stored most significant byte first
};

struct DiscTrack {
  int number = 0;  // 1 to 99
  // The track's audio from its index 1 to its end, in order. From a cue sheet always
  // one range of its file.
  std::vector<DiscPiece> pieces;
  // The bytes of the track's file before its index 1 (index 00, the pre-gap), empty
  // when there are none. A player starts the track after them and no track holds
  // them; but a rip's read offset may have moved the end of the track before into them.
  DiscPiece pregap;
  uint64_t length() const;    // bytes
  uint64_t start_sector = 0;  // on the disc, counted from track 1's index 1
  // A ripper's sheet only: the track reaches past the end of its file (an image or a
  // WAV cut short). pieces hold what there is, cut_off how many bytes are missing
  // (0 when the sheet does not say: a file's last track that starts past its end).
  bool cut_short = false;
  uint64_t cut_off = 0;
};

struct DiscImage {
  std::string sheet;  // the .cue or .toc that describes it
  std::vector<DiscTrack> tracks;
  std::vector<int> data_tracks;  // by number, when the sheet was read as a ripper's
  uint64_t total_bytes() const;
};

// Reads a cue sheet (".cue": FILE, TRACK, INDEX 00/01, PREGAP) or a cdrdao TOC
// (anything else: TRACK AUDIO, FILE/AUDIOFILE with SWAP and #offset, SILENCE, START).
// Relative file names are taken from the sheet's directory, and every file is checked
// to be there, a regular file and long enough. Nothing, with the reason in *error
// (naming the line, escaped for a terminal), when it cannot be read or describes
// anything but audio tracks on a CD: at most 99 of them, numbered upwards, ending
// within 100 minutes.
//
// rippers: the sheet is a ripper's, of any disc: data tracks are listed in data_tracks
// rather than refused, a cue sheet's words are read in any case, a track's INDEX
// 00 may be in the FILE before its INDEX 01 (the pre-gap then is that file's end), and
// a file shorter than the sheet has it gives the tracks it holds, the one it ends in
// and those after it marked cut_short.
enum class SheetKind { kByName, kCue, kToc };
std::optional<DiscImage> ReadDiscImage(const std::string& sheet, std::string* error,
                                       SheetKind kind = SheetKind::kByName, bool rippers = false);

// True when path names a disc image by its extension (.cue or .toc, any case).
bool IsDiscImageName(const std::string& path);
// True when path ends in suffix (lower case), in any case: "X.CUE" ends in ".cue".
bool NameEndsWith(const std::string& path, const std::string& suffix);

// The track's audio as one run of little-endian CD audio bytes: what a player reads
// from the disc for it. Nothing, with the reason in *error, when a file cannot be opened.
std::unique_ptr<ByteSource> OpenDiscTrack(const DiscTrack& track, std::string* error);

// "MM:SS:FF" for a count of sectors, as cue sheets and TOCs write positions.
std::string SectorsToMsf(uint64_t sectors);
// "M:SS.hh" for a count of sectors, as people read disc times.
std::string SectorsToClock(uint64_t sectors);

}  // namespace trackloom::cli
