#include "cli/tracks/disc_sheets.h"

#include <cstdio>

#include "cli/tracks/disc_image.h"
#include "core/track_format.h"

namespace trackloom::cli {

std::string CueSheet(const std::string& bin_name, const std::vector<DiscPart>& parts) {
  std::string cue = "REM Written by trackloom. Burn disc-at-once (DAO/SAO), no gaps, on a CD-R.\n";
  cue += "FILE \"" + bin_name + "\" BINARY\n";
  uint64_t at = 0;
  char line[64];
  for (size_t i = 0; i < parts.size(); ++i) {
    std::snprintf(line, sizeof line, "  TRACK %02zu AUDIO\n    INDEX 01 %s\n", i + 1,
                  SectorsToMsf(at).c_str());
    cue += line;
    at += parts[i].sectors();
  }
  return cue;
}

std::string TocFile(const std::string& bin_name, const std::vector<DiscPart>& parts) {
  std::string toc =
      "// Written by trackloom for cdrdao, which burns it disc-at-once:\n"
      "//   cdrdao write --device /dev/sr0 THIS.toc\n"
      "// The samples in the image are little-endian; SWAP tells cdrdao so.\n"
      "CD_DA\n";
  uint64_t at = 0;
  for (size_t i = 0; i < parts.size(); ++i) {
    toc += "\n// track " + std::to_string(i + 1) + ": " + parts[i].label + "\nTRACK AUDIO\n";
    toc += "FILE \"" + bin_name + "\" SWAP #" + std::to_string(at * kCdSectorBytes) + " 0 " +
           SectorsToMsf(parts[i].sectors()) + "\n";
    at += parts[i].sectors();
  }
  return toc;
}

}  // namespace trackloom::cli
