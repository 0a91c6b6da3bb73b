#include "cli/cdio/cd_reader.h"

#include <cdio/cdio.h>
#include <cdio/logging.h>
#ifdef TRACKLOOM_CD_PARANOIA
#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>
#else
#include <cdio/read.h>
#endif

#include <algorithm>
#include <cstring>

#include "cli/common/interrupt.h"
#include "cli/common/platform.h"
#include "cli/tracks/sheet_file.h"

namespace trackloom::cli::cdio {
namespace {

constexpr long kSectorsARead = 27;  // 63504 bytes

// paranoia's callback carries no pointer of ours: the one reader at a time counts here.
uint64_t g_read_errors = 0;

#ifdef TRACKLOOM_CD_PARANOIA
constexpr int kNormalRetries = 20;

void CountReadErrors(long, paranoia_cb_mode_t mode) {
  if (mode == PARANOIA_CB_READERR || mode == PARANOIA_CB_SKIP) ++g_read_errors;
}

// Full paranoia retries a sector that will not read for as long as it takes, with no
// way out: once a stop is asked, the drive's reads give silence at once, so the sector
// in hand is settled and the read loop sees the stop.
long (*g_drive_read)(cdrom_drive_t*, void*, lsn_t, long) = nullptr;

long ReadOrStop(cdrom_drive_t* drive, void* out, lsn_t begin, long sectors) {
  if (!StopRequested()) return g_drive_read(drive, out, begin, sectors);
  if (out != nullptr) std::memset(out, 0, static_cast<size_t>(sectors) * CDIO_CD_FRAMESIZE_RAW);
  return sectors;
}

int ParanoiaMode(Paranoia p) {
  switch (p) {
    case Paranoia::kFull:
      return PARANOIA_MODE_FULL;
    case Paranoia::kNormal:
      return PARANOIA_MODE_FULL ^ PARANOIA_MODE_NEVERSKIP;
    case Paranoia::kOff:
      break;
  }
  return PARANOIA_MODE_DISABLE;
}
#endif

class CdReader final : public DiscReader {
 public:
  CdReader(const CdReadOptions& options, bool image) : options_(options), image_(image) {}
  ~CdReader() override {
#ifdef TRACKLOOM_CD_PARANOIA
    if (paranoia_ != nullptr) cdio_paranoia_free(paranoia_);
    if (drive_ != nullptr) cdio_cddap_close_no_free_cdio(drive_);
#endif
    if (cdio_ != nullptr) cdio_destroy(cdio_);
  }
  CdReader(const CdReader&) = delete;
  CdReader& operator=(const CdReader&) = delete;

  bool Open(const std::string& source, std::string* error);
  int64_t Read(uint8_t* out, size_t max, std::string* error) override;
  std::string how() const override {
    return options_.paranoia == Paranoia::kOff ? "libcdio" : "libcdio with paranoia";
  }
  uint64_t read_errors() const override { return g_read_errors; }
  std::vector<std::pair<uint64_t, uint64_t>> TakeUnreadable() override {
    return std::move(unreadable_);
  }

 private:
  bool ListTracks(const std::string& source, std::string* error);
  bool StartReading(const std::string& source, std::string* error);
  void Seek(lsn_t sector);
  // Reads up to n sectors at next_ into pending_; the number read, -1 on a failure
  // that stops the rip.
  long ReadSectors(long n, std::string* error);

  CdReadOptions options_;
  bool image_;
  CdIo_t* cdio_ = nullptr;
#ifdef TRACKLOOM_CD_PARANOIA
  cdrom_drive_t* drive_ = nullptr;
  cdrom_paranoia_t* paranoia_ = nullptr;
#endif
  std::vector<lsn_t> first_sector_;  // per audio track
  size_t current_ = 0;               // the audio track being read
  lsn_t next_ = 0;                   // its next sector
  std::vector<uint8_t> pending_;     // sectors read, not yet handed on
  size_t pending_at_ = 0;
  std::vector<std::pair<uint64_t, uint64_t>> unreadable_;  // stream bytes, not yet taken
};

bool CdReader::Open(const std::string& source, std::string* error) {
  cdio_log_set_handler([](cdio_log_level_t, const char*) {});
  g_read_errors = 0;
  const driver_id_t driver = !image_                        ? DRIVER_DEVICE
                             : NameEndsWith(source, ".cue") ? DRIVER_BINCUE
                                                            : DRIVER_CDRDAO;
  cdio_ = cdio_open(source.c_str(), driver);
  if (cdio_ == nullptr) {
    *error = image_ ? "libcdio cannot open the disc image " + Quoted(source)
                    : "cannot open the CD drive " + Quoted(source) +
                          " (is a disc in it, and may you read it?)";
    return false;
  }
  return ListTracks(source, error) && StartReading(source, error);
}

bool CdReader::ListTracks(const std::string& source, std::string* error) {
  const track_t first = cdio_get_first_track_num(cdio_);
  const track_t count = cdio_get_num_tracks(cdio_);
  if (first == CDIO_INVALID_TRACK || count == CDIO_INVALID_TRACK || count == 0) {
    *error = "no tracks found on " + Quoted(source) + " (is a disc in the drive?)";
    return false;
  }
  for (track_t t = first; t < first + count; ++t) {
    const lsn_t from = cdio_get_track_lsn(cdio_, t);
    const lsn_t last = cdio_get_track_last_lsn(cdio_, t);
    if (cdio_get_track_format(cdio_, t) != TRACK_FORMAT_AUDIO) {
      data_tracks_.push_back(t);
      continue;
    }
    if (from == CDIO_INVALID_LSN || last == CDIO_INVALID_LSN || last < from) {
      *error = "cannot tell where track " + std::to_string(t) + " of " + Quoted(source) + " is";
      return false;
    }
    const uint64_t length = static_cast<uint64_t>(last - from + 1) * CDIO_CD_FRAMESIZE_RAW;
    tracks_.push_back(StreamTrack{t, total(), length});
    first_sector_.push_back(from);
  }
  return true;
}

#ifdef TRACKLOOM_CD_PARANOIA
bool CdReader::StartReading(const std::string& source, std::string* error) {
  if (tracks_.empty()) return true;
  drive_ = cdio_cddap_identify_cdio(cdio_, CDDA_MESSAGE_FORGETIT, nullptr);
  if (drive_ == nullptr || cdio_cddap_open(drive_) != 0) {
    *error = "cannot read the audio of " + Quoted(source);
    return false;
  }
  // CD audio is little-endian. The library guesses a drive's byte order from the
  // sound, and the records' bytes are no sound: its guess would turn them round.
  drive_->bigendianp = 0;
  if (drive_->read_audio != nullptr && drive_->read_audio != ReadOrStop) {
    g_drive_read = drive_->read_audio;
    drive_->read_audio = ReadOrStop;
  }
  if (options_.speed > 0 && !image_) cdio_cddap_speed_set(drive_, options_.speed);
  if (options_.paranoia != Paranoia::kOff) {
    paranoia_ = cdio_paranoia_init(drive_);
    if (paranoia_ == nullptr) {
      *error = "cannot set up error correction for " + Quoted(source);
      return false;
    }
    cdio_paranoia_modeset(paranoia_, ParanoiaMode(options_.paranoia));
  }
  next_ = first_sector_[0];
  Seek(next_);
  return true;
}

void CdReader::Seek(lsn_t sector) {
  if (paranoia_ != nullptr) cdio_paranoia_seek(paranoia_, sector, SEEK_SET);
}

long CdReader::ReadSectors(long n, std::string* error) {
  if (paranoia_ != nullptr) {
    const int retries = options_.paranoia == Paranoia::kFull ? -1 : kNormalRetries;
    const int16_t* sector = cdio_paranoia_read_limited(paranoia_, CountReadErrors, retries);
    if (sector == nullptr) {
      *error = "reading sector " + std::to_string(next_) + " failed";
      return -1;
    }
    pending_.assign(CDIO_CD_FRAMESIZE_RAW, 0);
    std::memcpy(pending_.data(), sector, CDIO_CD_FRAMESIZE_RAW);
    return 1;
  }
  // The library reads as many sectors as the drive takes at once, perhaps fewer.
  pending_.resize(static_cast<size_t>(n) * CDIO_CD_FRAMESIZE_RAW);
  const long got = cdio_cddap_read(drive_, pending_.data(), next_, n);
  if (got > 0) {
    n = std::min(got, n);
  } else {
    // A sector the drive cannot read is handed on as silence; the records it
    // held are found damaged.
    n = 1;
    ++g_read_errors;
    std::fill(pending_.begin(), pending_.end(), 0);
  }
  pending_.resize(static_cast<size_t>(n) * CDIO_CD_FRAMESIZE_RAW);
  return n;
}
#else
// Built without paranoia (the Windows command when its source could not be had):
// every read is a plain read of the drive's audio through libcdio.
bool CdReader::StartReading(const std::string&, std::string*) {
  if (tracks_.empty()) return true;
  if (options_.speed > 0 && !image_) cdio_set_speed(cdio_, options_.speed);
  next_ = first_sector_[0];
  return true;
}

void CdReader::Seek(lsn_t) {}

long CdReader::ReadSectors(long n, std::string*) {
  pending_.resize(static_cast<size_t>(n) * CDIO_CD_FRAMESIZE_RAW);
  if (cdio_read_audio_sectors(cdio_, pending_.data(), next_, static_cast<uint32_t>(n)) !=
      DRIVER_OP_SUCCESS) {
    // Sector by sector, so one bad sector costs only itself: it is handed on as
    // silence and the records it held are found damaged.
    n = 1;
    pending_.resize(CDIO_CD_FRAMESIZE_RAW);
    if (cdio_read_audio_sector(cdio_, pending_.data(), next_) != DRIVER_OP_SUCCESS) {
      ++g_read_errors;
      std::fill(pending_.begin(), pending_.end(), 0);
    }
  }
  return n;
}
#endif

int64_t CdReader::Read(uint8_t* out, size_t max, std::string* error) {
  while (pending_at_ == pending_.size()) {
    if (current_ >= tracks_.size()) return 0;
    const lsn_t end = first_sector_[current_] +
                      static_cast<lsn_t>(tracks_[current_].length / CDIO_CD_FRAMESIZE_RAW);
    if (next_ >= end) {
      if (++current_ < tracks_.size() && first_sector_[current_] != next_) {
        next_ = first_sector_[current_];  // a data track lies between
        Seek(next_);
      }
      continue;
    }
    pending_at_ = 0;
    const uint64_t errors = g_read_errors;
    const long n = ReadSectors(std::min<long>(kSectorsARead, end - next_), error);
    if (n < 0) return -1;
    if (g_read_errors != errors) {
      // What was read in place of sectors the drive could not read damages its records.
      const uint64_t at =
          tracks_[current_].start +
          static_cast<uint64_t>(next_ - first_sector_[current_]) * CDIO_CD_FRAMESIZE_RAW;
      unreadable_.emplace_back(at, static_cast<uint64_t>(n) * CDIO_CD_FRAMESIZE_RAW);
    }
    next_ += static_cast<lsn_t>(n);
    if (StopRequested()) return 0;
  }
  const size_t n = std::min(max, pending_.size() - pending_at_);
  std::memcpy(out, pending_.data() + pending_at_, n);
  pending_at_ += n;
  return static_cast<int64_t>(n);
}

}  // namespace

std::unique_ptr<DiscReader> OpenCd(const std::string& source, bool image,
                                   const CdReadOptions& options, std::string* error) {
  auto reader = std::make_unique<CdReader>(options, image);
  if (!reader->Open(source, error)) return nullptr;
  return reader;
}

bool CdParanoiaBuiltIn() {
#ifdef TRACKLOOM_CD_PARANOIA
  return true;
#else
  return false;
#endif
}

bool IsCdDrive(const std::string& path) {
#ifdef _WIN32
  // A drive letter, "D:" or "D:\", as Windows users name drives.
  const bool letter =
      (path.size() == 2 || (path.size() == 3 && (path[2] == '\\' || path[2] == '/'))) &&
      ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') && path[1] == ':';
  return letter;
#else
  struct stat info = {};
  return ::stat(path.c_str(), &info) == 0 && S_ISBLK(info.st_mode);
#endif
}

}  // namespace trackloom::cli::cdio
