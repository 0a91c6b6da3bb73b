// The three files of a disc image (NAME.bin, NAME.cue, NAME.toc) while they are
// made: written under hidden names beside NAME (".NAME.TAG.bin", ...), with the
// directory the end track is rendered in (".NAME.TAG.end"), and given their names
// together at the end, or not at all. A run holds its .bin locked while it lasts, so
// that the next run into the same place can tell what a killed run left behind (and
// remove it) from what a run still going is writing.
#pragma once

#include <string>
#include <vector>

#include "cli/common/unique_fd.h"

namespace trackloom::cli {

class ImageStaging {
 public:
  // base: NAME with its directory; directory: where NAME is; file: NAME's file name.
  ImageStaging(std::string base, std::string directory, std::string file);
  ~ImageStaging() { Discard(); }
  ImageStaging(const ImageStaging&) = delete;
  ImageStaging& operator=(const ImageStaging&) = delete;

  // Throws CliError when one of the image's names is taken by something an image may
  // not replace (a directory, a FIFO, a device), before anything is written.
  static void CheckNames(const std::string& base);

  // Removes what killed runs into the same place left, and returns their names; then
  // makes this run's .bin, locked. Throws CliError when it cannot be made.
  std::vector<std::string> Begin();
  // The hidden name of this run's file of that kind ("bin", "cue", "toc").
  std::string Path(const char* kind) const;
  // Creates this run's hidden .cue or .toc, empty.
  void Create(const char* kind);
  // Makes the directory the end track is rendered in and returns it.
  std::string MakeEndDirectory();
  // Gives the three files their names. When one cannot take its name, the names
  // already given get their earlier files back (or none, where there were none), and
  // CliError says why.
  void Commit();
  // Removes every hidden file and directory of this run that is still there.
  void Discard();

 private:
  std::string Hidden(const std::string& kind) const;
  void Rollback(size_t renamed, const std::vector<bool>& kept);

  std::string base_, directory_, file_, tag_;
  UniqueFd lock_fd_;
  std::vector<std::string> made_;  // hidden names of this run that exist
};

}  // namespace trackloom::cli
