#include "cli/track_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace trackloom::cli {
namespace {

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
uint32_t GetLe32(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

}  // namespace

double DiscSeconds(int64_t records, int64_t tracks) {
  return static_cast<double>(records * kTrackRecordBytes + tracks * kTrackLeadInBytes) / kDiscBytesPerSecond;
}

std::string TrackFileName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, "VDN Track %02d.wav", number);
  return name;
}

TrackFileSnapshot::Stamp TrackFileSnapshot::StampOf(const std::string& path) {
  Stamp s;
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return s;
  s.exists = true;
  s.device = st.st_dev;
  s.inode = st.st_ino;
  s.size = st.st_size;
  s.mtime_ns = int64_t{st.st_mtim.tv_sec} * 1000000000 + st.st_mtim.tv_nsec;
  s.ctime_ns = int64_t{st.st_ctim.tv_sec} * 1000000000 + st.st_ctim.tv_nsec;
  return s;
}

TrackFileSnapshot TrackFileSnapshot::Take(const std::string& directory) {
  TrackFileSnapshot snapshot;
  for (int n = 1; n <= kMaxTracks; ++n) snapshot.stamps_.push_back(StampOf(directory + "/" + TrackFileName(n)));
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
    t.records = t.length > kTrackFirstRecordOffset ? (t.length - kTrackFirstRecordOffset) / kTrackRecordBytes : 0;
    tracks.push_back(t);
  }
  return tracks;
}

bool RepairTrackFile(TrackFileInfo& track) {
  struct stat st {};
  if (stat(track.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const int64_t length = st.st_size;
  if (length < kTrackHeaderBytes) return false;
  int64_t whole = length;
  if (length > kTrackFirstRecordOffset) {
    whole = kTrackFirstRecordOffset + (length - kTrackFirstRecordOffset) / kTrackRecordBytes * kTrackRecordBytes;
  }
  const int fd = open(track.path.c_str(), O_RDWR);
  if (fd < 0) return false;
  uint8_t header[kTrackHeaderBytes];
  bool changed = false;
  if (pread(fd, header, sizeof header, 0) == static_cast<ssize_t>(sizeof header) &&
      std::memcmp(header, "RIFF", 4) == 0 && std::memcmp(header + 8, "WAVE", 4) == 0) {
    // Cutting the partial record frees the space the size fields need, if the disk is full.
    if (whole != length && ftruncate(fd, whole) == 0) changed = true;
    const auto riff = static_cast<uint32_t>(whole - 8);
    const auto data = static_cast<uint32_t>(whole - kTrackHeaderBytes);
    if (GetLe32(header + 4) != riff || GetLe32(header + 40) != data) {
      uint8_t field[4];
      PutLe32(field, riff);  // RIFF chunk size: file length - 8
      bool ok = pwrite(fd, field, 4, 4) == 4;
      PutLe32(field, data);  // data chunk size: file length - 44
      ok = pwrite(fd, field, 4, 40) == 4 && ok;
      changed = changed || ok;
    }
  }
  close(fd);
  track.length = whole;
  track.records = whole > kTrackFirstRecordOffset ? (whole - kTrackFirstRecordOffset) / kTrackRecordBytes : 0;
  return changed;
}

}  // namespace trackloom::cli
