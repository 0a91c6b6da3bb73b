#include "cli/tracks/disc_image.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <map>

#include "cli/common/messages.h"
#include "cli/tracks/sheet_file.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

constexpr uint64_t kBytesPerSampleFrame = kTrackChannels * kTrackBitsPerSample / 8;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() && Lower(text.substr(text.size() - suffix.size())) == suffix;
}

// "MM:SS:FF" into sectors.
bool ParseMsf(const std::string& text, uint64_t* sectors) {
  unsigned m = 0, s = 0, f = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u:%u:%u%c", &m, &s, &f, &tail) != 3) return false;
  if (s >= 60 || f >= kCdSectorsPerSecond || m > 999) return false;
  *sectors = (uint64_t{m} * 60 + s) * kCdSectorsPerSecond + f;
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t* value) {
  if (text.empty() || text.size() > 15) return false;
  uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + static_cast<uint64_t>(c - '0');
  }
  *value = v;
  return true;
}

// The words of one line: blanks separate, "..." quotes (a backslash escapes the next
// character in a TOC, as cdrdao reads it; a cue sheet has no escapes), // starts a
// comment in a TOC.
std::vector<std::string> Words(const std::string& line, bool toc) {
  std::vector<std::string> words;
  size_t i = 0;
  while (i < line.size()) {
    const char c = line[i];
    if (c == ' ' || c == '\t' || c == '\r') {
      ++i;
    } else if (toc && line.compare(i, 2, "//") == 0) {
      break;
    } else if (c == '"') {
      std::string word;
      for (++i; i < line.size() && line[i] != '"'; ++i) {
        if (toc && line[i] == '\\' && i + 1 < line.size()) {
          ++i;
          if (i + 2 < line.size() && std::isdigit(static_cast<unsigned char>(line[i]))) {
            word += static_cast<char>(std::strtol(line.substr(i, 3).c_str(), nullptr, 8));
            i += 2;
            continue;
          }
        }
        word += line[i];
      }
      ++i;
      words.push_back(word);
    } else {
      const size_t end = line.find_first_of(" \t\r\"", i);
      words.push_back(line.substr(i, end == std::string::npos ? std::string::npos : end - i));
      i = end == std::string::npos ? line.size() : end;
    }
  }
  return words;
}

// The start of a message about a line of the sheet. What follows it quotes the sheet's
// own words, so it is escaped as well.
std::string Where(const std::string& sheet, int line, const std::string& what) {
  return Printable(sheet) + ":" + std::to_string(line) + ": " + Printable(what);
}

uint64_t SectorsOf(uint64_t bytes) { return (bytes + kCdSectorBytes - 1) / kCdSectorBytes; }

// Whatever a sheet says, the disc it describes fits on a CD: a track that ends past
// 100 minutes is a mistake or an attack (a scan of it would take days), not a disc.
bool FitsOnCd(uint64_t start_sector, uint64_t length) {
  return start_sector <= kCdMaxSectors && SectorsOf(length) <= kCdMaxSectors - start_sector;
}

constexpr char kLongerThanCd[] =
    "the disc would last longer than 100 minutes, more than a CD holds";

// The bytes a file holds, or nothing with the reason.
std::optional<uint64_t> FileLength(const std::string& path, std::string* error) {
  std::unique_ptr<FileSource> file = FileSource::Open(path, error);
  if (file == nullptr) {
    *error = "cannot open " + Quoted(path) + ": " + *error;
    return std::nullopt;
  }
  return file->Size();
}

// A file's CD audio as a sheet names it: the whole file, or a WAV's data chunk.
struct AudioFile {
  std::string path;
  uint64_t offset = 0;
  uint64_t length = 0;
  bool big_endian = false;
  uint64_t cut_off = 0;  // a WAV cut short: what its data chunk states past its end
  bool wave = false;
};

std::optional<AudioFile> OpenAudioFile(const std::string& path, bool wave, bool big_endian,
                                       std::string* error, bool take_cut) {
  AudioFile file;
  file.path = path;
  file.big_endian = big_endian;
  file.wave = wave;
  if (wave) {
    std::optional<AudioRange> range = FindWavAudio(path, error, take_cut);
    if (!range) return std::nullopt;
    file.offset = range->offset;
    file.length = range->length;
    file.cut_off = range->cut_off;
  } else {
    std::optional<uint64_t> length = FileLength(path, error);
    if (!length) return std::nullopt;
    file.length = *length;
  }
  return file;
}

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The bytes a sector of a cue sheet's track mode takes in its file: "MODE1/2048" 2048.
uint64_t ModeSectorBytes(const std::string& mode) {
  const size_t slash = mode.find('/');
  uint64_t bytes = 0;
  if (slash != std::string::npos && ParseUnsigned(mode.substr(slash + 1), &bytes)) return bytes;
  return mode == "CDG" ? 2448 : kCdSectorBytes;
}

class CueReader {
 public:
  CueReader(const std::string& sheet, DiscImage& image, bool rippers)
      : sheet_(sheet), image_(image), rippers_(rippers) {}

  bool Line(std::vector<std::string> w, int line, std::string* error) {
    if (rippers_ && !w.empty()) w[0] = Upper(w[0]);
    if (rippers_ && w.size() > 2 && (w[0] == "FILE" || w[0] == "TRACK")) w[2] = Upper(w[2]);
    const std::string key = w.empty() ? "" : w[0];
    auto fail = [&](const std::string& what) {
      *error = Where(sheet_, line, what);
      return false;
    };
    if (key == "FILE") {
      if (w.size() < 3) return fail("FILE needs a name and a type");
      if (!CloseFile(line, error)) return false;
      const std::string type = w[2];
      if (type != "BINARY" && type != "MOTOROLA" && type != "WAVE") {
        return fail("FILE of type " + type + " cannot be read; BINARY, MOTOROLA and WAVE can");
      }
      const AudioFile* file = Open(ResolveSheetName(sheet_, w[1]), type, error);
      if (file == nullptr) return fail(*error);
      file_ = *file;
      have_file_ = true;
      return true;
    }
    if (key == "TRACK") return Track(w, fail);
    if (key == "INDEX") {
      uint64_t index = 0, at = 0;
      if (open_.empty()) return fail("INDEX before any TRACK");
      if (w.size() < 3 || !ParseUnsigned(w[1], &index) || !ParseMsf(w[2], &at)) {
        return fail("INDEX needs a number and a position MM:SS:FF");
      }
      const auto byte = static_cast<int64_t>(at * kCdSectorBytes);
      if (index == 0) open_.back().index0 = byte;
      if (index == 1) open_.back().index1 = byte;
      return true;
    }
    if (key == "PREGAP" || key == "POSTGAP") {
      uint64_t sectors = 0;
      if (w.size() < 2 || !ParseMsf(w[1], &sectors)) return fail(key + " needs a length MM:SS:FF");
      pregap_sectors_ += sectors;  // silence on the disc, not in the file
      if (key == "PREGAP" && !open_.empty()) open_.back().gap_sectors = pregap_sectors_;
      return true;
    }
    return true;  // REM, TITLE, PERFORMER, FLAGS, ISRC, CATALOG, ...: not about the audio
  }

  bool CloseFile(int line, std::string* error) {
    DiscPiece carried;  // a ripper's layout: the last track's pre-gap ends this file
    if (rippers_ && !open_.empty() && open_.back().index1 < 0 && open_.back().index0 >= 0) {
      const int64_t from = open_.back().index0;
      if (from <= static_cast<int64_t>(file_.length)) {
        carried = {file_.path, file_.offset + static_cast<uint64_t>(from),
                   file_.length - static_cast<uint64_t>(from), file_.big_endian};
      }
      open_.back().index0 = -1;
    }
    // The track still open goes on into the next file: kept out of the ones closed here.
    std::optional<Pending> next;
    if (carried.length > 0 || (rippers_ && !open_.empty() && open_.back().index1 < 0)) {
      next = open_.back();
      open_.pop_back();
    }
    for (size_t i = 0; i < open_.size(); ++i) {
      if (!CloseTrack(i, line, error)) return false;
    }
    open_.clear();
    if (next) open_.push_back(*next);
    carried_ = carried;
    if (have_file_) file_start_ += file_.length;
    return true;
  }

 private:
  template <typename Fail>
  bool Track(const std::vector<std::string>& w, const Fail& fail) {
    if (!have_file_) return fail("TRACK before any FILE");
    uint64_t number = 0;
    if (w.size() < 3 || !ParseUnsigned(w[1], &number) || number < 1 || number > kCdMaxTracks) {
      return fail("TRACK needs a number from 1 to 99 and a mode");
    }
    const bool data = w[2] != "AUDIO";
    if (data && !rippers_) {
      return fail("track " + w[1] + " is a " + w[2] + " data track; only audio tracks are read");
    }
    if (image_.tracks.size() + open_.size() >= static_cast<size_t>(kCdMaxTracks))
      return fail("more than 99 tracks; a CD holds at most 99");
    if (static_cast<int>(number) <= last_number_) {
      return fail("track " + std::to_string(number) + " comes after track " +
                  std::to_string(last_number_) + "; track numbers must rise");
    }
    last_number_ = static_cast<int>(number);
    open_.push_back(
        {static_cast<int>(number), -1, -1, pregap_sectors_, data ? ModeSectorBytes(w[2]) : 0});
    return true;
  }

  bool CloseTrack(size_t i, int line, std::string* error) {
    const Pending& t = open_[i];
    if (t.index1 < 0) {
      *error = Where(sheet_, line, "track " + std::to_string(t.number) + " has no INDEX 01");
      return false;
    }
    const auto held = static_cast<int64_t>(file_.length);
    // A file's last track ends where the file does (as its WAV header states it).
    int64_t end = std::max(held + static_cast<int64_t>(file_.cut_off), t.index1);
    if (i + 1 < open_.size())
      end = open_[i + 1].index0 >= 0 ? open_[i + 1].index0 : open_[i + 1].index1;
    // Index 00 (the pre-gap) comes before index 01, and no track reaches past the file
    // but in a ripper's image cut short.
    if ((t.index0 >= 0 && t.index0 > t.index1) || end < t.index1 || (end > held && !rippers_)) {
      *error = Where(sheet_, line,
                     "track " + std::to_string(t.number) +
                         " starts after the next track or after the end of " + Quoted(file_.path));
      return false;
    }
    if (t.data_sector > 0) {
      // Positions after a data track of other than 2352-byte sectors are not bytes / 2352.
      if (t.data_sector != kCdSectorBytes && i + 1 < open_.size()) {
        *error = Where(sheet_, line,
                       "track " + std::to_string(t.number) + " is data of " +
                           std::to_string(t.data_sector) +
                           "-byte sectors before audio in the same file; it cannot be read");
        return false;
      }
      image_.data_tracks.push_back(t.number);
      return true;
    }
    DiscTrack track;
    track.number = t.number;
    const int64_t from = std::min(t.index1, held), to = std::min(end, held);
    // A BIN holds whole sectors: one that ends inside a sector was cut there.
    const bool partial = !file_.wave && i + 1 == open_.size() && held % kCdSectorBytes != 0;
    track.cut_short = end > held || t.index1 > held || (rippers_ && partial);
    track.cut_off = static_cast<uint64_t>(end - std::max(to, t.index1));
    if (to > from) track.pieces.push_back(Piece(from, to));
    if (t.index0 >= 0 && t.index0 < t.index1) {
      track.pregap = Piece(std::min(t.index0, held), from);
    } else if (i == 0 && carried_.length > 0 && t.index1 == 0) {
      track.pregap = carried_;
    }
    track.start_sector =
        (file_start_ + static_cast<uint64_t>(t.index1)) / kCdSectorBytes + t.gap_sectors;
    if (!FitsOnCd(track.start_sector, track.length())) {
      *error = Where(sheet_, line, kLongerThanCd);
      return false;
    }
    image_.tracks.push_back(track);
    return true;
  }

  // Bytes [from, to) of the current file.
  DiscPiece Piece(int64_t from, int64_t to) const {
    return {file_.path, file_.offset + static_cast<uint64_t>(from),
            static_cast<uint64_t>(to - from), file_.big_endian};
  }

  // Each file is opened and measured once, however many FILE lines name it.
  const AudioFile* Open(const std::string& path, const std::string& type, std::string* error) {
    const std::string key = type + "/" + path;
    auto known = files_.find(key);
    if (known == files_.end()) {
      std::optional<AudioFile> file =
          OpenAudioFile(path, type == "WAVE", type == "MOTOROLA", error, rippers_);
      if (!file) return nullptr;
      known = files_.emplace(key, *file).first;
    }
    return &known->second;
  }

  struct Pending {
    int number;
    int64_t index0, index1;  // byte positions in the file; -1 when not given
    uint64_t gap_sectors;    // silence on the disc before this track, not in any file
    uint64_t data_sector;    // a data track's sector bytes; 0 for audio
  };
  const std::string& sheet_;
  DiscImage& image_;
  bool rippers_;
  AudioFile file_;
  bool have_file_ = false;
  uint64_t file_start_ = 0;  // where the current file begins in the disc's audio
  uint64_t pregap_sectors_ = 0;
  int last_number_ = 0;
  std::vector<Pending> open_;
  DiscPiece carried_;                       // the pre-gap the file before ended in
  std::map<std::string, AudioFile> files_;  // by type and path
};

// A length or position in a TOC: samples, or MM:SS:FF sectors.
bool ParseTocLength(const std::string& text, uint64_t* bytes) {
  uint64_t value = 0;
  if (text.find(':') != std::string::npos) {
    if (!ParseMsf(text, &value)) return false;
    *bytes = value * kCdSectorBytes;
    return true;
  }
  if (!ParseUnsigned(text, &value)) return false;
  *bytes = value * kBytesPerSampleFrame;
  return true;
}

// A cdrdao TOC, a statement at a time: TRACK starts a track, FILE/AUDIOFILE and
// SILENCE/PREGAP add pieces to it, START marks where its index 1 is. Whatever follows
// a statement on its line is its arguments or a comment; braces before a statement
// are counted, and statements inside them (CD_TEXT blocks) skipped.
class TocReader {
 public:
  TocReader(const std::string& sheet, DiscImage& image, bool rippers)
      : sheet_(sheet), image_(image), rippers_(rippers) {}

  bool Line(const std::vector<std::string>& w, int line, std::string* error) {
    line_ = line;
    error_ = error;
    for (size_t i = 0; i < w.size(); ++i) {
      if (w[i] == "{") {
        ++depth_;
      } else if (w[i] == "}") {
        --depth_;
      } else if (depth_ <= 0) {
        return Statement(w, i);
      }
    }
    return true;
  }

  // The pre-gap before START belongs to the disc, not to the track's index 1.
  void FinishTrack() {
    if (track_ == nullptr || start_trim_ == 0) return;
    uint64_t cut = start_trim_;
    std::vector<DiscPiece> kept;
    for (DiscPiece p : track_->pieces) {
      const uint64_t drop = std::min(cut, p.length);
      cut -= drop;
      p.offset += p.path.empty() ? 0 : drop;
      p.length -= drop;
      if (p.length > 0) kept.push_back(p);
    }
    track_->pieces = kept;
    track_->start_sector += start_trim_ / kCdSectorBytes;
  }

 private:
  bool Fail(const std::string& what) {
    *error_ = Where(sheet_, line_, what);
    return false;
  }

  // w[i] is the statement's keyword; the rest of the line is its arguments.
  bool Statement(const std::vector<std::string>& w, size_t i) {
    const std::string& key = w[i];
    if (key == "TRACK") return Track(w, i);
    if (data_) return true;  // a data track's files and lengths: not read
    if (key == "FILE" || key == "AUDIOFILE") return File(w, i);
    if (key == "SILENCE" || key == "PREGAP") {
      uint64_t length = 0;
      if (track_ == nullptr) return Fail(key + " before any TRACK");
      if (i + 1 >= w.size() || !ParseTocLength(w[i + 1], &length))
        return Fail(key + " needs a length");
      if (!AddPiece({"", 0, length, false}, length)) return false;
      if (key == "PREGAP") start_trim_ = track_->length();
      return true;
    }
    if (key == "START") {
      if (track_ == nullptr) return Fail("START before any TRACK");
      start_trim_ = track_->length();
      if (i + 1 < w.size() && !ParseTocLength(w[i + 1], &start_trim_))
        return Fail("START takes MM:SS:FF");
      return true;
    }
    if (key == "DATAFILE" || key == "ZERO" || key == "FIFO")
      return Fail(key + " is not audio a disc image of tracks can hold");
    return true;  // CD_DA, CATALOG, COPY, PRE_EMPHASIS, ISRC, INDEX, END, ...: not about the audio
  }

  bool Track(const std::vector<std::string>& w, size_t i) {
    if (i + 1 >= w.size()) return Fail("TRACK needs a mode");
    data_ = w[i + 1] != "AUDIO";
    if (data_ && !rippers_)
      return Fail("a " + w[i + 1] + " data track; only audio tracks are read");
    FinishTrack();
    if (track_ != nullptr)
      disc_sectors_ += (track_->length() + kCdSectorBytes - 1) / kCdSectorBytes;
    if (numbered_ >= kCdMaxTracks) return Fail("more than 99 tracks");
    ++numbered_;
    track_ = nullptr;
    if (data_) {
      image_.data_tracks.push_back(numbered_);
      return true;
    }
    image_.tracks.emplace_back();
    track_ = &image_.tracks.back();
    track_->number = numbered_;
    track_->start_sector = disc_sectors_;
    start_trim_ = 0;
    return true;
  }

  // FILE name [SWAP] [#offset] start [length]
  bool File(const std::vector<std::string>& w, size_t i) {
    const std::string& key = w[i];
    if (track_ == nullptr) return Fail(key + " before any TRACK");
    if (i + 1 >= w.size()) return Fail(key + " needs a file name");
    const std::string name = w[i + 1];
    size_t k = i + 2;
    bool swap = false;
    uint64_t byte_offset = 0, start = 0, length = 0;
    if (k < w.size() && w[k] == "SWAP") swap = true, ++k;
    if (k < w.size() && w[k][0] == '#') {
      std::string number = w[k].substr(1);
      if (number.empty() && k + 1 < w.size()) number = w[++k];
      if (!ParseUnsigned(number, &byte_offset)) return Fail("a #offset must be a number of bytes");
      ++k;
    }
    if (k >= w.size() || !ParseTocLength(w[k], &start))
      return Fail(key + " needs a start position");
    ++k;
    if (k < w.size() && !ParseTocLength(w[k], &length))
      return Fail("a length must be samples or MM:SS:FF");
    // cdrdao reads .wav files as little-endian and raw files as big-endian; SWAP turns
    // either round.
    const bool wave = EndsWith(name, ".wav");
    const AudioFile* file = Open(ResolveSheetName(sheet_, name), wave);
    if (file == nullptr) return false;
    const uint64_t from = byte_offset + start;
    if (!rippers_ && (from > file->length || length > file->length - from)) {
      return Fail(Quoted(name) + " holds " + std::to_string(file->length) +
                  " bytes of audio; this part reaches past its end");
    }
    const uint64_t held = from < file->length ? file->length - from : 0;
    if (length == 0) length = held + (from <= file->length ? file->cut_off : 0);
    return AddPiece({file->path, file->offset + from, length, wave == swap}, held);
  }

  // A piece of which the file holds the first held bytes. In an image cut short, the
  // track ends at the cut: what it lacks, and every piece after, is counted missing.
  bool AddPiece(DiscPiece piece, uint64_t held) {
    const uint64_t kept = track_->cut_short ? 0 : std::min(held, piece.length);
    if (kept < piece.length) {
      track_->cut_short = true;
      track_->cut_off += piece.length - kept;
      piece.length = kept;
    }
    if (piece.length > 0) track_->pieces.push_back(piece);
    return Fits();
  }

  // Checked as each piece is added, so no length can grow past what a CD holds.
  bool Fits() { return FitsOnCd(disc_sectors_, track_->length()) || Fail(kLongerThanCd); }

  // Each file is opened and measured once, however many pieces name it.
  const AudioFile* Open(const std::string& path, bool wave) {
    auto known = files_.find(path);
    if (known == files_.end()) {
      std::optional<AudioFile> file = OpenAudioFile(path, wave, false, error_, rippers_);
      if (!file) {
        Fail(*error_);
        return nullptr;
      }
      known = files_.emplace(path, *file).first;
    }
    return &known->second;
  }

  const std::string& sheet_;
  DiscImage& image_;
  bool rippers_;
  bool data_ = false;  // in a data track
  int numbered_ = 0;   // tracks so far, data ones too
  int line_ = 0;
  std::string* error_ = nullptr;
  int depth_ = 0;  // inside CD_TEXT { ... }
  std::map<std::string, AudioFile> files_;
  DiscTrack* track_ = nullptr;  // the last of image_.tracks, once there is one
  uint64_t start_trim_ = 0;     // bytes of the current track's pre-gap, before START
  uint64_t disc_sectors_ = 0;   // where the current track starts on the disc
};

}  // namespace

uint64_t DiscTrack::length() const {
  uint64_t total = 0;
  for (const DiscPiece& p : pieces) total += p.length;
  return total;
}

uint64_t DiscImage::total_bytes() const {
  uint64_t total = 0;
  for (const DiscTrack& t : tracks) total += t.length();
  return total;
}

std::optional<DiscImage> ReadDiscImage(const std::string& sheet, std::string* error, SheetKind kind,
                                       bool rippers) {
  std::vector<std::string> lines;
  if (!ReadSheetLines(sheet, &lines, error)) return std::nullopt;
  DiscImage image;
  image.sheet = sheet;
  if (kind == SheetKind::kCue || (kind == SheetKind::kByName && EndsWith(sheet, ".cue"))) {
    CueReader reader(sheet, image, rippers);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!reader.Line(Words(lines[i], false), static_cast<int>(i + 1), error)) return std::nullopt;
    }
    if (!reader.CloseFile(static_cast<int>(lines.size()), error)) return std::nullopt;
  } else {
    TocReader reader(sheet, image, rippers);
    for (size_t i = 0; i < lines.size(); ++i) {
      if (!reader.Line(Words(lines[i], true), static_cast<int>(i + 1), error)) return std::nullopt;
    }
    reader.FinishTrack();
  }
  if (image.tracks.empty() && image.data_tracks.empty()) {
    *error = Quoted(sheet) + " describes no audio track";
    return std::nullopt;
  }
  return image;
}

bool NameEndsWith(const std::string& path, const std::string& suffix) {
  return EndsWith(path, suffix);
}

bool IsDiscImageName(const std::string& path) {
  return EndsWith(path, ".cue") || EndsWith(path, ".toc");
}

}  // namespace trackloom::cli
