// A CD read through libcdio: a drive (/dev/sr0; a drive letter on Windows) or a disc
// image libcdio's own image drivers open (.cue with one BIN, .toc), so images take
// the very path a drive does. The only code that includes libcdio's headers.
#pragma once

#include <memory>
#include <string>

#include "cli/tracks/disc_reader.h"

namespace trackloom::cli::cdio {

enum class Paranoia {
  kFull,    // verify every sector, retry without end, never skip
  kNormal,  // verify, retry a while, then skip what cannot be read
  kOff,     // read once, as the drive gives it
};

struct CdReadOptions {
  Paranoia paranoia = Paranoia::kFull;
  int speed = 0;  // the drive's read speed (1x, 2x, ...); 0 leaves it as it is
};

// Nothing, with the reason in *error, when source cannot be opened as a CD.
// image: source is a disc image, not a drive.
std::unique_ptr<DiscReader> OpenCd(const std::string& source, bool image,
                                   const CdReadOptions& options, std::string* error);

// False in a build without libcdio's paranoia: every read is then a plain one, as
// with Paranoia::kOff.
bool CdParanoiaBuiltIn();

// True when path names a CD drive: a block device on Linux, "D:" on Windows.
bool IsCdDrive(const std::string& path);

// True when path names an optical drive: a CD drive that answers as one (Linux), a
// drive letter Windows calls a CD-ROM drive.
bool IsOpticalDrive(const std::string& path);

}  // namespace trackloom::cli::cdio
