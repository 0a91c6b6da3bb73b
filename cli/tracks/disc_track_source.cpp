#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/tracks/disc_image.h"
#include "cli/tracks/sheet_file.h"

namespace trackloom::cli {
namespace {

// One track of a disc image read as one file: its pieces of the image's files (or
// of silence) one after the other, the big-endian ones turned round on the way.
class DiscTrackSource final : public ByteSource {
 public:
  explicit DiscTrackSource(const DiscTrack& track) : pieces_(track.pieces), size_(track.length()) {
    uint64_t start = 0;
    for (const DiscPiece& p : pieces_) {
      starts_.push_back(start);
      start += p.length;
    }
  }

  bool Open(std::string* error) {
    for (const DiscPiece& p : pieces_) {
      if (p.path.empty() || files_.count(p.path) != 0) continue;
      std::unique_ptr<FileSource> file = FileSource::Open(p.path, error);
      if (file == nullptr) {
        *error = "cannot open " + Quoted(p.path) + ": " + *error;
        return false;
      }
      files_[p.path] = std::move(file);
    }
    return true;
  }

  uint64_t Size() const override { return size_; }

  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
    if (offset > size_ || count > size_ - offset) return false;
    // A TOC may give a track thousands of pieces: the first one read is found by
    // halving, not by walking them all for every read.
    size_t i = static_cast<size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) -
                                   starts_.begin());
    for (i = i == 0 ? 0 : i - 1; count > 0 && i < pieces_.size(); ++i) {
      const DiscPiece& p = pieces_[i];
      if (offset >= starts_[i] + p.length) continue;  // an empty piece
      const uint64_t within = offset - starts_[i];
      const size_t n = static_cast<size_t>(std::min<uint64_t>(count, p.length - within));
      if (!ReadPiece(p, within, out, n)) return false;
      out += n;
      offset += n;
      count -= n;
    }
    return count == 0;
  }

 private:
  bool ReadPiece(const DiscPiece& p, uint64_t within, uint8_t* out, size_t n) {
    if (p.path.empty()) {
      std::memset(out, 0, n);
      return true;
    }
    FileSource& file = *files_.at(p.path);
    if (!p.big_endian) return file.ReadAt(p.offset + within, out, n);
    // Samples are byte pairs counted from the piece's start: read whole pairs and
    // turn each round.
    const uint64_t first = within & ~uint64_t{1};
    const uint64_t end = std::min<uint64_t>((within + n + 1) & ~uint64_t{1}, p.length);
    swap_buffer_.resize(static_cast<size_t>(end - first));
    if (!file.ReadAt(p.offset + first, swap_buffer_.data(), swap_buffer_.size())) return false;
    for (size_t i = 0; i + 1 < swap_buffer_.size(); i += 2)
      std::swap(swap_buffer_[i], swap_buffer_[i + 1]);
    std::memcpy(out, swap_buffer_.data() + (within - first), n);
    return true;
  }

  std::vector<DiscPiece> pieces_;
  std::vector<uint64_t> starts_;  // where each piece begins in the track
  uint64_t size_;
  std::map<std::string, std::unique_ptr<FileSource>> files_;
  std::vector<uint8_t> swap_buffer_;
};

}  // namespace

std::unique_ptr<ByteSource> OpenDiscTrack(const DiscTrack& track, std::string* error) {
  auto source = std::make_unique<DiscTrackSource>(track);
  if (!source->Open(error)) return nullptr;
  return source;
}

}  // namespace trackloom::cli
