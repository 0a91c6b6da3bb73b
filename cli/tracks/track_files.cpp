#include "cli/tracks/track_files.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/common/cli_error.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"

namespace trackloom::cli {
double DiscSeconds(int64_t records, int64_t tracks) {
  return TrackDiscSeconds(static_cast<uint64_t>(records * kFrameRecordSize + tracks * kLeadInSize));
}

std::string TrackFileName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, kTrackFileNameFormat, number);
  return name;
}

bool TrackFileInfo::finished() const {
  if (length < kWaveHeaderSize) return false;
  uint8_t header[kWaveHeaderSize];
  std::ifstream file(path, std::ios::binary);
  if (!file.read(reinterpret_cast<char*>(header), sizeof header)) return false;
  const auto data_bytes = static_cast<uint64_t>(length - kWaveHeaderSize);
  return wav::CheckHeader(header, wav::kTrackFormat) &&
         wav::GetLe32(header + wav::kDataSizeOffset) == data_bytes &&
         wav::GetLe32(header + wav::kRiffSizeOffset) == data_bytes + wav::kRiffSizeOverData;
}

TrackFileSnapshot::Stamp TrackFileSnapshot::StampOf(const std::string& path) {
  Stamp s;
  struct stat st = {};
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  FileIdentity identity;
  IdentityOf(path.c_str(), &identity);
  s.device = identity.device;
  s.inode = identity.inode;
  s.size = st.st_size;
  s.mtime_ns = ModifiedNs(st);
  s.ctime_ns = ChangedNs(st);
  return s;
}

TrackFileSnapshot TrackFileSnapshot::Take(const std::string& directory) {
  TrackFileSnapshot snapshot;
  for (int n = 1; n <= kMaxTracks; ++n)
    snapshot.stamps_.push_back(StampOf(directory + "/" + TrackFileName(n)));
  return snapshot;
}

std::vector<TrackFileInfo> TrackFileSnapshot::WrittenSince(const std::string& directory) const {
  std::vector<TrackFileInfo> tracks;
  for (int n = 1; n <= kMaxTracks; ++n) {
    TrackFileInfo t;
    t.name = TrackFileName(n);
    t.path = directory + "/" + t.name;
    const Stamp now = StampOf(t.path);
    if (!now.exists || now == stamps_[static_cast<size_t>(n - 1)]) break;
    t.length = now.size;
    t.records =
        t.length > kFirstRecordOffset ? (t.length - kFirstRecordOffset) / kFrameRecordSize : 0;
    tracks.push_back(t);
  }
  return tracks;
}

std::vector<int> TrackNumbersIn(const std::string& directory) {
  std::vector<int> numbers;
  DIR* dir = ::opendir(directory.c_str());
  if (dir == nullptr) return numbers;
  static constexpr char kPrefix[] = "VDN Track ";
  static constexpr char kSuffix[] = ".wav";
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    const size_t prefix = sizeof kPrefix - 1, suffix = sizeof kSuffix - 1;
    if (name.size() < prefix + 2 + suffix || name.compare(0, prefix, kPrefix) != 0 ||
        name.compare(name.size() - suffix, suffix, kSuffix) != 0) {
      continue;
    }
    const std::string digits = name.substr(prefix, name.size() - prefix - suffix);
    // Two digits, as the filter and the player number tracks; "VDN Track 100.wav" is
    // no track of theirs.
    if (digits.size() != 2 ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      continue;
    }
    const int number = std::stoi(digits);
    if (number >= 1 && TrackFileName(number) == name) numbers.push_back(number);
  }
  ::closedir(dir);
  std::sort(numbers.begin(), numbers.end());
  return numbers;
}

bool IsTrackFile(const std::string& path) {
  struct stat st = {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  uint8_t header[kWaveHeaderSize];
  std::ifstream file(path, std::ios::binary);
  return file.read(reinterpret_cast<char*>(header), sizeof header) &&
         wav::CheckHeader(header, wav::kTrackFormat);
}

namespace {

// The process holding a lock on the file, from the kernel's list of locks:
//   "1: FLOCK  ADVISORY  WRITE 4242 08:01:1234 0 EOF" (major:minor:inode in hex:hex:decimal).
long LockHolder(const struct stat& file) {
  std::ifstream locks("/proc/locks");
  char wanted[64];
  std::snprintf(wanted, sizeof wanted, "%02x:%02x:%llu", major(file.st_dev), minor(file.st_dev),
                static_cast<unsigned long long>(file.st_ino));
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string number, kind, mode, access, pid, where;
    fields >> number >> kind;
    if (kind == "->") fields >> kind;  // a process waiting for the lock
    fields >> mode >> access >> pid >> where;
    if (kind == "FLOCK" && where == wanted) return std::strtol(pid.c_str(), nullptr, 10);
  }
  return 0;
}

}  // namespace

OutputDirectoryLock::OutputDirectoryLock(const std::string& directory) {
  fd_.Reset(OpenDescriptor(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!fd_) return;
  if (::flock(fd_.get(), LOCK_EX | LOCK_NB) == 0) return;
  const int error = errno;
  struct stat info = {};
  const long holder = error == EWOULDBLOCK && ::fstat(fd_.get(), &info) == 0 ? LockHolder(info) : 0;
  fd_.Reset();
  if (error != EWOULDBLOCK) return;
  throw CliError("another encode" +
                 (holder > 0 ? " (process " + std::to_string(holder) + ")" : std::string()) +
                 " is writing tracks into '" + directory +
                 "'; wait until it ends, or give another directory");
}

void WriteLevelTables(const std::string& path, const levels::Tables& tables) {
  UniqueFd fd(OpenDescriptor(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC));
  const auto fail = [&] {
    const int error = errno;
    throw CliError("cannot write the level tables into '" + path + "': " + DescribeError(error));
  };
  struct stat info = {};
  if (!fd || fstat(fd.get(), &info) != 0) fail();
  uint8_t header[kRecordHeaderSize];
  for (int64_t at = kFirstRecordOffset; at + kFrameRecordSize <= info.st_size;
       at += kFrameRecordSize) {
    if (pread(fd.get(), header, sizeof header, static_cast<off_t>(at)) != kRecordHeaderSize) fail();
    levels::PutTables(header, tables);
    if (pwrite(fd.get(), header, sizeof header, static_cast<off_t>(at)) != kRecordHeaderSize)
      fail();
  }
  if (!fd.Close()) fail();
}

}  // namespace trackloom::cli
