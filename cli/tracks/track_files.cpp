#include "cli/tracks/track_files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace trackloom::cli {
double DiscSeconds(int64_t records, int64_t tracks) {
  return TrackDiscSeconds(static_cast<uint64_t>(records * kTrackRecordBytes + tracks * kTrackLeadInBytes));
}

std::string TrackFileName(int number) {
  char name[32];
  std::snprintf(name, sizeof name, kTrackFileNameFormat, number);
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

}  // namespace trackloom::cli
