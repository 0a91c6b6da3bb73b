#include "cli/disc/make_disc.h"

#include <signal.h>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <system_error>

#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/common/fs_path.h"
#include "cli/common/interrupt.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/disc/test_pattern_disc.h"
#include "cli/encode/filter_session.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/disc_plan.h"
#include "cli/tracks/disc_sheets.h"
#include "cli/tracks/image_staging.h"
#include "cli/tracks/track_files.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"
#include "core/wave_file.h"
#include "runner/frame_source.h"

namespace trackloom::cli::disc {

namespace {

namespace fs = std::filesystem;

// The end-of-disc track, rendered by the filter from black frames into directory.
std::string RenderEndTrack(const std::string& directory, uint64_t expected_length) {
  encode::FilterSession host;
  host.Configure({"", directory, ""});
  runner::PaintedFrameSource frames({}, kEndTrackRecords, [](int64_t, uint32_t* pixels) {
    std::memset(pixels, 0, sizeof(uint32_t) * kPictureWidth * kPictureHeight);
  });
  const runner::RenderReport report = host.instance().Render(frames);
  if (!report.ok) {
    // The filter's own message names no file and no cause: the file object kept why.
    throw CliError("the filter could not make the end-of-disc track in '" + directory +
                   "': " + (report.errors.empty() ? std::string() : report.errors.front() + ": ") +
                   DescribeError(ErrnoOfFileError(WaveFile::LastError())) +
                   "; nothing was written");
  }
  const std::string path = directory + "/" + TrackFileName(1);
  std::string error;
  std::optional<AudioRange> audio = FindWavAudio(path, &error);
  if (!audio) throw CliError("the end-of-disc track: " + error);
  if (audio->length != expected_length) {
    throw CliError("the end-of-disc track came out " + std::to_string(audio->length) +
                   " bytes long, not " + std::to_string(expected_length));
  }
  return path;
}

class ImageFile {
 public:
  ImageFile(const std::string& path, const std::string& shown) : shown_(shown) {
    fd_ = OpenDescriptor(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd_ < 0) Fail(errno);
    // A temporary file is made readable by its owner only; the image is an ordinary file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd_, 0666 & ~mask);
  }
  ~ImageFile() {
    if (fd_ >= 0) ::close(fd_);
  }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  void Write(const uint8_t* data, size_t count) {
    while (count > 0) {
      const ssize_t n = ::write(fd_, data, count);
      if (n < 0 && errno == EINTR) {
        if (StopRequested()) throw Stopped{};
        continue;
      }
      if (n <= 0) Fail(n < 0 ? errno : ENOSPC);
      data += n;
      count -= static_cast<size_t>(n);
    }
  }

  void Close() {
    const int fd = fd_;
    fd_ = -1;
    if (::fsync(fd) != 0 || ::close(fd) != 0) Fail(errno);
  }

 private:
  [[noreturn]] void Fail(int error) {
    throw CliError("cannot write '" + shown_ + "': " + DescribeError(error) +
                   "; nothing was written");
  }
  std::string shown_;
  int fd_ = -1;
};

void WriteText(const std::string& path, const std::string& shown, const std::string& text) {
  ImageFile file(path, shown);
  file.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size());
  file.Close();
}

// The image's name: NAME without an extension of its own, and a file name that cue
// sheets and TOCs can quote.
std::string ImageBase(std::string name) {
  for (const char* extension : {".bin", ".cue", ".toc"}) {
    const size_t n = std::strlen(extension);
    if (name.size() > n && name.compare(name.size() - n, n, extension) == 0)
      name.resize(name.size() - n);
  }
  const std::string file = Utf8Name(FsPath(name).filename());
  if (file.empty() || file == "." || file == "..")
    throw CliError("-o takes a name for the image, not '" + name + "'");
  if (const std::string problem = ImageNameProblem(file); !problem.empty()) throw CliError(problem);
  return name;
}

}  // namespace

namespace {

// Room the image's directory must keep beyond the image: the sheets, and what the
// file system needs for its own records.
constexpr uint64_t kSpareBytes = 1 << 20;

// The image's directory, made when missing and checked to hold the image with
// kSpareBytes to spare before anything is written.
std::string PrepareDirectory(const std::string& base, uint64_t image_bytes) {
  const fs::path parent = FsPath(base).parent_path();
  const std::string directory = parent.empty() ? "." : Utf8Name(parent);
  std::error_code ec;
  fs::create_directories(FsPath(directory), ec);
  if (ec || !fs::is_directory(FsPath(directory))) {
    throw CliError("cannot make the directory '" + directory + "' for the image" +
                   (ec ? ": " + ec.message() : std::string()));
  }
  struct statvfs space = {};
  if (statvfs(directory.c_str(), &space) == 0 &&
      static_cast<uint64_t>(space.f_bavail) * space.f_frsize < image_bytes + kSpareBytes) {
    throw CliError("'" + directory + "' has " +
                   std::to_string(static_cast<uint64_t>(space.f_bavail) * space.f_frsize >> 20) +
                   " MiB free, and the image needs " + std::to_string(image_bytes >> 20) +
                   " MiB with " + std::to_string(kSpareBytes >> 20) +
                   " MiB to spare; nothing was written");
  }
  return directory;
}

// Renders the end track into a directory of its own beside the image and points its
// part at the samples after the WAV header.
void RenderEndTracks(DiscPlan& plan, ImageStaging& staging) {
  for (DiscPart& part : plan.parts) {
    if (!part.end_track) continue;
    part.source = RenderEndTrack(staging.MakeEndDirectory(), part.length);
    part.offset = static_cast<uint64_t>(kWaveHeaderSize);
  }
}

// Copies one part into the BIN: its file's bytes, then zero bytes up to whole sectors.
void CopyPart(const DiscPart& part, ImageFile& bin, std::vector<uint8_t>& buffer,
              const std::function<void(uint64_t)>& advanced) {
  std::unique_ptr<FileSource> source;
  std::string error;
  if (!part.source.empty()) {
    source = FileSource::Open(part.source, &error);
    if (source == nullptr) throw CliError("cannot open '" + part.source + "': " + error);
  }
  const uint64_t total = part.sectors() * kCdSectorBytes;
  for (uint64_t done = 0; done < total;) {
    if (StopRequested()) throw Stopped{};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), total - done));
    const size_t from_file =
        done < part.length ? static_cast<size_t>(std::min<uint64_t>(n, part.length - done)) : 0;
    if (from_file > 0 && !source->ReadAt(part.offset + done, buffer.data(), from_file)) {
      throw CliError("cannot read '" + part.source +
                     "' (did it change while the image was written?)");
    }
    std::memset(buffer.data() + from_file, 0, n - from_file);
    bin.Write(buffer.data(), n);
    done += n;
    advanced(n);
  }
}

void WriteBin(const DiscPlan& plan, const std::string& path, const std::string& base,
              const Reporter& report) {
  const uint64_t image_bytes = plan.sectors * kCdSectorBytes;
  Progress progress(report.err, report.ShowsProgress(), -1);
  {
    ImageFile bin(path, base + ".bin");
    std::vector<uint8_t> buffer(1 << 20);
    uint64_t written = 0;
    for (const DiscPart& part : plan.parts) {
      CopyPart(part, bin, buffer, [&](uint64_t n) {
        written += n;
        progress.Show("writing " + base + ".bin: " + std::to_string(written * 100 / image_bytes) +
                      "%");
      });
    }
    bin.Close();
  }
  progress.Finish();
}

// Writes the two sheets and gives all three files their names, with Ctrl-C held so
// that an image is complete or not there.
void WriteSheetsAndKeep(const DiscPlan& plan, const std::string& file, const std::string& base,
                        ImageStaging& staging) {
  const std::string bin_name = file + ".bin";
  // A Ctrl-C or a closed terminal cannot leave NAME.bin of this run beside NAME.cue of
  // an earlier one.
  const StopSignalsHeld held;
  if (StopRequested()) throw Stopped{};
  staging.Create("cue");
  WriteText(staging.Path("cue"), base + ".cue", CueSheet(bin_name, plan.parts));
  staging.Create("toc");
  WriteText(staging.Path("toc"), base + ".toc", TocFile(bin_name, plan.parts));
  staging.Commit();
}

// No name of the image may be one of the files it is made from: the first track
// above all, which cannot be made again.
void CheckNotInputs(const DiscOptions& o, const std::string& base) {
  std::vector<std::string> inputs = o.tracks;
  inputs.push_back(o.first);
  if (o.last) inputs.push_back(*o.last);
  for (const char* extension : {".bin", ".cue", ".toc"}) {
    if (const std::string* input = SameFileAsInput(base + extension, inputs)) {
      throw CliError(SameFileMessage(base + extension, *input) + "; nothing was written");
    }
  }
}

// Says which leftovers of killed runs were removed.
void NoteRemoved(std::FILE* out, const std::vector<std::string>& removed) {
  if (removed.empty()) return;
  std::string names;
  for (const std::string& name : removed) names += " " + name;
  std::fprintf(out, "Removed what an earlier disc left when it was stopped:%s\n",
               Printable(names).c_str());
}

// What a stop leaves: staging removes every file of the image it was writing.
constexpr char kNoImage[] = "interrupted; no image was written";

// One image of plans: its three files under hidden names, renamed when complete. The
// hidden files are removed as the staging goes out of scope, on every way out.
void WriteImage(DiscPlan& plan, const std::string& base, const std::string& directory,
                const Reporter& report) {
  const std::string file = Utf8Name(FsPath(base).filename());
  ImageStaging staging(base, directory, file);
  NoteRemoved(report.Words() ? report.out : report.err, staging.Begin());
  RenderEndTracks(plan, staging);
  WriteBin(plan, staging.Path("bin"), base, report);
  WriteSheetsAndKeep(plan, file, base, staging);
  staging.Discard();
}

// The discs of a split run written so far, removed again when a later one fails or is
// stopped: the run leaves every disc of the film or none.
class WrittenDiscs {
 public:
  ~WrittenDiscs() {
    for (const std::string& base : bases_) {
      for (const char* extension : {".bin", ".cue", ".toc"}) ::unlink((base + extension).c_str());
    }
  }
  void Add(const std::string& base) { bases_.push_back(base); }
  void Keep() { bases_.clear(); }

 private:
  std::vector<std::string> bases_;
};

// NAME, or NAME-1, NAME-2, ... when the run may write several discs.
std::vector<std::string> DiscBases(const DiscOptions& o, size_t discs) {
  const std::string base = ImageBase(o.name);
  if (!o.split) return {base};
  std::vector<std::string> bases;
  for (size_t i = 1; i <= discs; ++i) bases.push_back(base + "-" + std::to_string(i));
  return bases;
}

// Writes every disc of plans; their NAMEs.
std::vector<std::string> WriteDiscs(const DiscOptions& o, std::vector<DiscPlan>& plans,
                                    const Reporter& report) {
  const std::vector<std::string> bases = DiscBases(o, plans.size());
  uint64_t bytes = 0;
  for (size_t i = 0; i < plans.size(); ++i) {
    CheckNotInputs(o, bases[i]);
    ImageStaging::CheckNames(bases[i]);
    bytes += plans[i].sectors * kCdSectorBytes;
  }
  const std::string directory = PrepareDirectory(bases.front(), bytes);
  WrittenDiscs written;
  for (size_t i = 0; i < plans.size(); ++i) {
    WriteImage(plans[i], bases[i], directory, report);
    written.Add(bases[i]);
  }
  written.Keep();
  return bases;
}

}  // namespace

DiscResult MakeDisc(const DiscOptions& o, const Reporter& report) {
  try {
    ImageBase(o.name);
    DiscResult result;
    result.plans = PlanDiscs(o);
    result.bases = WriteDiscs(o, result.plans, report);
    return result;
  } catch (const Stopped&) {
    throw Stopped{kNoImage};
  } catch (const CliError&) {
    if (StopRequested()) throw Stopped{kNoImage};
    throw;
  }
}

}  // namespace trackloom::cli::disc
