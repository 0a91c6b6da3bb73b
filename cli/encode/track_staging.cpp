#include "cli/encode/track_staging.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "cli/common/cli_error.h"
#include "cli/common/fs_path.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/read_once.h"
#include "cli/tracks/disc_image.h"

namespace trackloom::cli::encode {
namespace {

constexpr size_t kUniquePart = 6;  // the XXXXXX of mkdtemp() and mkostemps()

// name is prefix, a unique part and suffix: a name the encode made.
bool MadeName(const std::string& name, const std::string& prefix, const std::string& suffix) {
  return name.size() == prefix.size() + kUniquePart + suffix.size() &&
         name.compare(0, prefix.size(), prefix) == 0 &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

std::filesystem::file_type TypeOf(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(FsPath(path), error).type();
}

// A staging directory holding nothing but track files (finished or not) is removed
// with them; anything else in it is no encode's, and the directory stays.
bool RemoveStaging(const std::string& path) {
  std::vector<std::string> names;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(FsPath(path), error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    names.push_back(Utf8Name(it->path().filename()));
  }
  const std::vector<int> numbers = TrackNumbersIn(path);
  if (error || names.size() != numbers.size()) return false;
  for (int n : numbers) {
    const std::string track = path + "/" + TrackFileName(n);
    if (TypeOf(track) != std::filesystem::file_type::regular) return false;
  }
  for (int n : numbers) ::unlink((path + "/" + TrackFileName(n)).c_str());
  return ::rmdir(path.c_str()) == 0;
}

}  // namespace

StagingDirectory::StagingDirectory(const std::string& parent) {
  std::string pattern = parent + "/" + kStagingPrefix + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw CliError("cannot make a directory in '" + parent + "': " + std::strerror(errno));
  }
  path_ = pattern;
}

StagingDirectory::~StagingDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(FsPath(path_), ignored);
}

void NumberOn(std::vector<TrackFileInfo>& tracks, const std::string& into,
              const std::string& shown_in, int first) {
  if (first - 1 + static_cast<int>(tracks.size()) > kCdMaxTracks) {
    throw CliError("the inputs give more than " + std::to_string(kCdMaxTracks) +
                   " tracks, more than a CD holds; encode fewer inputs or fewer breaks at a time");
  }
  for (TrackFileInfo& t : tracks) {
    const std::string name = TrackFileName(first++);
    const std::string path = into + "/" + name;
    if (ReplaceName(t.path.c_str(), path.c_str()) != 0) {
      throw CliError("cannot rename '" + t.path + "' to '" + path + "': " + std::strerror(errno));
    }
    t.name = name;
    t.path = shown_in + "/" + name;
  }
}

std::vector<std::string> RemoveLeftovers(const std::string& directory) {
  std::vector<std::string> removed;
  std::error_code error;
  for (auto it = std::filesystem::directory_iterator(FsPath(directory), error);
       !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
    const std::string name = Utf8Name(it->path().filename());
    const std::string path = Utf8Name(it->path());
    const std::filesystem::file_type type = TypeOf(path);
    if (type == std::filesystem::file_type::directory && MadeName(name, kStagingPrefix, "")) {
      if (RemoveStaging(path)) removed.push_back(name);
    } else if (type == std::filesystem::file_type::regular &&
               (MadeName(name, kSoundPrefix, kSoundSuffix) ||
                MadeName(name, kReadOnceCopyPrefix, "") || MadeName(name, kSpoolPrefix, ""))) {
      if (::unlink(path.c_str()) == 0) removed.push_back(name);
    }
  }
  std::sort(removed.begin(), removed.end());
  return removed;
}

std::vector<std::string> ReplaceTracks(const std::string& holding, const std::string& directory,
                                       int count) {
  // Every name is checked first, so that a refusal leaves the earlier set whole.
  for (int n = 1; n <= count; ++n) {
    const std::string target = directory + "/" + TrackFileName(n);
    if (TypeOf(target) == std::filesystem::file_type::not_found || IsTrackFile(target)) continue;
    const std::string why = TypeOf(target) == std::filesystem::file_type::symlink
                                ? DescribeWriteError(target, kNotRegularFile)
                                : "it is not a track file, and --overwrite replaces only tracks";
    throw CliError("cannot replace '" + target + "': " + why + "; move it away and encode again");
  }
  for (int n = 1; n <= count; ++n) {
    const std::string from = holding + "/" + TrackFileName(n);
    const std::string to = directory + "/" + TrackFileName(n);
    if (ReplaceName(from.c_str(), to.c_str()) != 0) {
      throw CliError("cannot rename '" + from + "' to '" + to + "': " + std::strerror(errno));
    }
  }
  std::vector<std::string> removed;
  for (int n : TrackNumbersIn(directory)) {
    const std::string path = directory + "/" + TrackFileName(n);
    if (n > count && IsTrackFile(path) && ::unlink(path.c_str()) == 0) {
      removed.push_back(TrackFileName(n));
    }
  }
  return removed;
}

}  // namespace trackloom::cli::encode
