// A temporary file that is removed when the command ends, however it ends: by the
// destructor on every ordinary path, and by the interrupt handler when a second
// Ctrl-C gives up at once.
#pragma once

#include <string>

namespace trackloom::cli {

class TempFile {
 public:
  TempFile() = default;
  ~TempFile() { Remove(); }
  TempFile(const TempFile&) = delete;
  TempFile& operator=(const TempFile&) = delete;

  // Creates an empty file named after pattern_prefix, with a unique part and suffix,
  // inside directory. Throws CliError when it cannot be created.
  void Create(const std::string& directory, const std::string& prefix, const std::string& suffix);
  void Remove();
  // Renames the file to final_path, replacing what is there, and stops looking after
  // it. Throws CliError when the rename fails (the file is then still removed later).
  void Keep(const std::string& final_path);
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

}  // namespace trackloom::cli
