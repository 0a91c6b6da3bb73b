// Which of the user's files the studio's page may have read or written. The page
// names files by path, and anything that can reach the server could try any path:
// writes go only inside the project folder, and reads only to files the user picked
// in the page's own file picker or that the studio itself wrote.
#pragma once

#include <filesystem>
#include <mutex>
#include <set>
#include <string>

namespace trackloom::cli::studio {

// Whether path, with its links and ".." resolved, lies inside folder (resolved the
// same way). A path that does not exist yet is judged by its existing part.
bool IsInsideFolder(const std::filesystem::path& folder, const std::filesystem::path& path);

// Whether text holds a NUL character, where the system's calls would cut a name short.
bool HasNul(const std::string& text);

// Whether path leads to a regular file (links followed): a FIFO or a device would
// hold a reader that opened it, so nothing else is ever read for the page.
bool IsRegularFile(const std::string& path);

// Makes folder, which must lie inside project, and every folder between them, each
// step taken from the one before without following a link: a link placed anywhere on
// the way (a project unpacked from someone else) is refused, not written through.
// False with the reason in *why.
bool MakeFolderInside(const std::filesystem::path& project, const std::filesystem::path& folder,
                      std::string* why);

// Writes text to path whole: into a new file of a name no one else has in the same
// folder (never through a link), then renamed over path in one step.
bool WriteFileWhole(const std::filesystem::path& path, const std::string& text);

// Whether a name ends like a file the studio takes as a video, a picture or a sound.
bool IsMediaName(const std::string& name);

// A file name sent by the page for an upload, as it is kept: its last part only,
// without control or bidirectional characters, with a '-' for each character Windows
// cannot hold in a name, without leading dots, at most 200 bytes with its ending
// kept; empty when nothing is left.
std::string SafeUploadName(const std::string& name);

// The files granted for reading, by their resolved path; safe across threads.
class FileGrants {
 public:
  void Grant(const std::filesystem::path& path);
  // A folder whose files, and those in folders under it, are all granted (the
  // studio's own outputs).
  void GrantFolder(const std::filesystem::path& folder);
  bool Granted(const std::filesystem::path& path) const;

 private:
  mutable std::mutex mutex_;
  std::set<std::filesystem::path> files_;
  std::set<std::filesystem::path> folders_;
};

}  // namespace trackloom::cli::studio
