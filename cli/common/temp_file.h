// A temporary file that does not outlive the command. A named one is removed by the
// destructor on every ordinary path, and by the interrupt handler when a second Ctrl-C
// gives up at once. An unnamed one vanishes however the command ends, even killed: it
// has no name from the start (it lives in its directory, on the same disk as the
// work, only while the command holds it open), and path() reaches it through
// /proc/self/fd.
#pragma once

#include <string>

#include "cli/common/unique_fd.h"

namespace trackloom::cli {

class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates an empty file named prefix, a unique part and suffix inside directory.
  // Throws CliError when it cannot be created.
  void Create(const std::string& directory, const std::string& prefix, const std::string& suffix);
  // Creates an empty file without a name inside directory; where the system cannot
  // reach such a file by a path, a named one as Create() makes.
  void CreateUnnamed(const std::string& directory, const std::string& prefix,
                     const std::string& suffix);
  void Remove();
  // True when CreateUnnamed() makes a file whose path() is short (/proc/self/fd/N),
  // whatever directory it is in.
  static bool UnnamedFilesHaveShortPaths();
  // Renames a named file to final_path, replacing what is there, and stops looking
  // after it. Throws CliError when the rename fails (the file is then still removed
  // later).
  void Keep(const std::string& final_path);
  // As Keep, but never replacing: false when final_path has come to exist (the file is
  // then still removed later). Throws CliError, naming final_path, when the rename
  // fails otherwise.
  bool KeepAsNew(const std::string& final_path);
  // What to open the file by while it exists.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  UniqueFd fd_;  // holds an unnamed file
};

}  // namespace trackloom::cli
