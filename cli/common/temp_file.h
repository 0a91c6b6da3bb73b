// A temporary file that never outlives the command, however it ends, even killed:
// where the system allows, it has no name at all from the start (it lives in its
// directory, on the same disk as the work, only while the command holds it open),
// and path() reaches it through /proc/self/fd. Elsewhere it is a named file, removed
// by the destructor on every ordinary path and by the interrupt handler when a second
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

  // Creates an empty file inside directory; a named one is called prefix, a unique
  // part and suffix. Throws CliError when it cannot be created.
  void Create(const std::string& directory, const std::string& prefix, const std::string& suffix);
  void Remove();
  // What to open the file by while it exists.
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;  // holds a file without a name
};

}  // namespace trackloom::cli
