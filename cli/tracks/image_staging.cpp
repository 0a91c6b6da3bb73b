#include "cli/tracks/image_staging.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <map>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"

namespace trackloom::cli {

namespace {

constexpr size_t kTagLength = 6;  // the XXXXXX mkostemps() fills in
// Given their names in this order: the .bin last, so that while a run gives names,
// its locked .bin still marks its other files as in use.
constexpr const char* kImageKinds[] = {"toc", "cue", "bin"};
constexpr const char* kStagedKinds[] = {"bin",     "cue",     "toc",    "end",
                                        "bin-old", "cue-old", "toc-old"};

bool IsTag(const std::string& text) {
  return text.size() == kTagLength && std::all_of(text.begin(), text.end(), [](char c) {
           return std::isalnum(static_cast<unsigned char>(c));
         });
}

// Removes a hidden file, or the end-track directory with the files in it.
void RemoveStaged(const std::string& path) {
  struct stat info = {};
  if (::lstat(path.c_str(), &info) != 0) return;
  if (!S_ISDIR(info.st_mode)) {
    ::unlink(path.c_str());
    return;
  }
  if (DIR* dir = ::opendir(path.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") ::unlink((path + "/" + name).c_str());
    }
    ::closedir(dir);
  }
  ::rmdir(path.c_str());
}

// True when a run still holds the .bin at path locked.
bool InUse(const std::string& bin) {
  const UniqueFd fd(OpenDescriptor(bin.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  return fd && ::flock(fd.get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK;
}

}  // namespace

ImageStaging::ImageStaging(std::string base, std::string directory, std::string file)
    : base_(std::move(base)), directory_(std::move(directory)), file_(std::move(file)) {}

void ImageStaging::CheckNames(const std::string& base) {
  for (const char* kind : kImageKinds) {
    const std::string path = base + "." + kind;
    struct stat info = {};
    if (::lstat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode) && !S_ISLNK(info.st_mode)) {
      throw CliError("cannot write '" + path + "': " + DescribeWriteError(path, kNotRegularFile) +
                     "; nothing was written");
    }
  }
}

std::string ImageStaging::Hidden(const std::string& kind) const {
  return directory_ + "/." + file_ + "." + tag_ + "." + kind;
}

std::string ImageStaging::Path(const char* kind) const { return Hidden(kind); }

std::vector<std::string> ImageStaging::Begin() {
  const std::string prefix = "." + file_ + ".";
  std::map<std::string, std::vector<std::string>> by_tag;
  if (DIR* dir = ::opendir(directory_.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name.compare(0, prefix.size(), prefix) != 0) continue;
      const std::string rest = name.substr(prefix.size());
      if (rest.size() <= kTagLength + 1 || rest[kTagLength] != '.') continue;
      const std::string tag = rest.substr(0, kTagLength);
      const std::string kind = rest.substr(kTagLength + 1);
      if (IsTag(tag) && std::find(std::begin(kStagedKinds), std::end(kStagedKinds), kind) !=
                            std::end(kStagedKinds)) {
        by_tag[tag].push_back(name);
      }
    }
    ::closedir(dir);
  }
  std::vector<std::string> removed;
  for (const auto& [tag, names] : by_tag) {
    if (InUse(directory_ + "/" + prefix + tag + ".bin")) continue;
    for (const std::string& name : names) {
      RemoveStaged(directory_ + "/" + name);
      removed.push_back(name);
    }
  }
  std::string pattern = directory_ + "/" + prefix + "XXXXXX.bin";
  lock_fd_.Reset(::mkostemps(pattern.data(), 4, O_CLOEXEC));
  if (!lock_fd_) {
    throw CliError("cannot create a file in '" + directory_ + "': " + DescribeError(errno));
  }
  ::flock(lock_fd_.get(), LOCK_EX | LOCK_NB);
  tag_ = pattern.substr(pattern.size() - 4 - kTagLength, kTagLength);
  made_.push_back(pattern);
  SetTempFileForHardExit(pattern.c_str());
  return removed;
}

void ImageStaging::Create(const char* kind) {
  const std::string path = Hidden(kind);
  const UniqueFd fd(
      OpenDescriptor(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (!fd) {
    throw CliError("cannot create a file in '" + directory_ + "': " + DescribeError(errno));
  }
  made_.push_back(path);
}

std::string ImageStaging::MakeEndDirectory() {
  const std::string path = Hidden("end");
  if (MakeDirectory(path.c_str(), 0700) != 0) {
    throw CliError("cannot make a directory in '" + directory_ + "': " + DescribeError(errno));
  }
  made_.push_back(path);
  return path;
}

void ImageStaging::Commit() {
  CheckNames(base_);
  // Each name that holds a file keeps it under a second name until all are given.
  std::vector<bool> kept;
  for (const char* kind : kImageKinds) {
    const std::string path = base_ + "." + kind;
    const std::string old = Hidden(std::string(kind) + "-old");
    struct stat info = {};
    const bool exists = ::lstat(path.c_str(), &info) == 0;
    if (exists && ::link(path.c_str(), old.c_str()) != 0) {
      const int error = errno;
      Rollback(0, kept);
      throw CliError("cannot keep '" + path + "' while the image replaces it: " +
                     DescribeError(error) + "; nothing was written");
    }
    if (exists) made_.push_back(old);
    kept.push_back(exists);
  }
  for (size_t i = 0; i < std::size(kImageKinds); ++i) {
    const std::string path = base_ + "." + kImageKinds[i];
    if (ReplaceName(Hidden(kImageKinds[i]).c_str(), path.c_str()) != 0) {
      const int error = errno;
      Rollback(i, kept);
      throw CliError("cannot give '" + path + "' its name: " + DescribeError(error) +
                     "; the image was left as it was");
    }
  }
  SetTempFileForHardExit(nullptr);
}

// Puts back the earlier files of the first `renamed` names (or takes the new ones away).
void ImageStaging::Rollback(size_t renamed, const std::vector<bool>& kept) {
  for (size_t i = 0; i < renamed; ++i) {
    const std::string path = base_ + "." + kImageKinds[i];
    if (kept[i]) {
      ReplaceName(Hidden(std::string(kImageKinds[i]) + "-old").c_str(), path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
}

void ImageStaging::Discard() {
  for (auto it = made_.rbegin(); it != made_.rend(); ++it) RemoveStaged(*it);
  made_.clear();
  SetTempFileForHardExit(nullptr);
  lock_fd_.Reset();
}

}  // namespace trackloom::cli
