#include "cli/tracks/disc_reader.h"

#include <algorithm>

#include "cli/tracks/sheet_file.h"

namespace trackloom::cli {

uint64_t DiscReader::total() const {
  return tracks_.empty() ? 0 : tracks_.back().start + tracks_.back().length;
}

namespace {

// Tracks each read from a byte source of its own, opened when its turn comes.
class SourcesReader : public DiscReader {
 public:
  int64_t Read(uint8_t* out, size_t max, std::string* error) override {
    while (current_ < tracks_.size()) {
      const uint64_t length = read_lengths_[current_];
      if (source_ == nullptr) {
        source_ = OpenTrack(current_, error);
        if (source_ == nullptr) return -1;
        within_ = 0;
      }
      if (within_ < length) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(max, length - within_));
        if (!source_->ReadAt(within_, out, n)) {
          *error = "cannot read track " + std::to_string(tracks_[current_].number) + " of " +
                   Quoted(name_);
          return -1;
        }
        within_ += n;
        return static_cast<int64_t>(n);
      }
      source_.reset();
      ++current_;
    }
    return 0;
  }

 protected:
  // The source of a track's bytes: its pre-gap's, then its own.
  virtual std::unique_ptr<ByteSource> OpenTrack(size_t index, std::string* error) = 0;
  void AddTrack(int number, uint64_t pregap, uint64_t length) {
    const uint64_t start = end_ + pregap;
    tracks_.push_back(StreamTrack{number, start, length});
    read_lengths_.push_back(pregap + length);
    end_ = start + length;
  }
  std::string name_;

 private:
  std::vector<uint64_t> read_lengths_;
  uint64_t end_ = 0;
  size_t current_ = 0;
  uint64_t within_ = 0;
  std::unique_ptr<ByteSource> source_;
};

class ImageFilesReader final : public SourcesReader {
 public:
  explicit ImageFilesReader(const DiscImage& image) : image_(image) {
    name_ = image.sheet;
    data_tracks_ = image.data_tracks;
    for (DiscTrack& t : image_.tracks) {
      if (t.cut_short) cut_tracks_.push_back(CutTrack{t.number, t.length(), t.cut_off});
      if (t.length() == 0) continue;  // nothing of it in the image: not in the stream
      AddTrack(t.number, t.pregap.length, t.length());
      if (t.pregap.length > 0) t.pieces.insert(t.pieces.begin(), t.pregap);
      read_.push_back(&t);
    }
  }
  std::string how() const override { return "the sheet's files"; }

 private:
  std::unique_ptr<ByteSource> OpenTrack(size_t index, std::string* error) override {
    return OpenDiscTrack(*read_[index], error);
  }
  DiscImage image_;
  std::vector<const DiscTrack*> read_;  // the tracks in the stream
};

// A run of a file's bytes as a source of its own.
class RangeSource final : public ByteSource {
 public:
  RangeSource(std::unique_ptr<FileSource> file, const AudioRange& range)
      : file_(std::move(file)), range_(range) {}
  uint64_t Size() const override { return range_.length; }
  bool ReadAt(uint64_t offset, uint8_t* out, size_t count) override {
    return file_->ReadAt(range_.offset + offset, out, count);
  }

 private:
  std::unique_ptr<FileSource> file_;
  AudioRange range_;
};

class TrackWavsReader final : public SourcesReader {
 public:
  bool Add(const std::string& path, std::string* error) {
    std::optional<AudioRange> range = FindWavAudio(path, error, /*take_cut=*/true);
    if (!range) return false;
    ranges_.push_back(*range);
    const int number = static_cast<int>(ranges_.size());
    if (range->cut_off > 0) cut_tracks_.push_back(CutTrack{number, range->length, range->cut_off});
    AddTrack(number, 0, range->length);
    name_ = path;
    return true;
  }
  std::string how() const override { return "track files"; }

 private:
  std::unique_ptr<ByteSource> OpenTrack(size_t index, std::string* error) override {
    name_ = ranges_[index].path;
    std::unique_ptr<FileSource> file = FileSource::Open(ranges_[index].path, error);
    if (file == nullptr) {
      *error = "cannot open " + Quoted(ranges_[index].path) + ": " + *error;
      return nullptr;
    }
    return std::make_unique<RangeSource>(std::move(file), ranges_[index]);
  }
  std::vector<AudioRange> ranges_;
};

}  // namespace

std::unique_ptr<DiscReader> OpenImageFiles(const DiscImage& image, std::string*) {
  return std::make_unique<ImageFilesReader>(image);
}

std::unique_ptr<DiscReader> OpenTrackWavs(const std::vector<std::string>& paths,
                                          std::string* error) {
  auto reader = std::make_unique<TrackWavsReader>();
  if (paths.size() > static_cast<size_t>(kCdMaxTracks)) {
    *error = "a disc holds at most 99 tracks; give at most 99 track files";
    return nullptr;
  }
  for (const std::string& p : paths) {
    if (!reader->Add(p, error)) return nullptr;
  }
  return reader;
}

}  // namespace trackloom::cli
