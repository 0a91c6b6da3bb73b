#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "cli/commands/rip_output.h"
#include "cli/commands/rip_report.h"
#include "cli/commands/subcommands.h"
#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/common/reporter.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/sheet_file.h"

namespace trackloom::cli {
namespace {

namespace fs = std::filesystem;

constexpr char kUsageHead[] =
    "Usage: trackloom rip SOURCE... -o FILE [options]\n"
    "\n"
    "Turns a VideoNow Color disc back into video: finds the player's records on the\n"
    "whole disc by their headers, wherever a drive's read offset put them, and writes\n"
    "their pictures and sound as one video with a chapter \"Track NN\" for each track\n"
    "that holds records. SOURCE is\n"
    "  a CD drive    /dev/sr0, /dev/cdrom (read with libcdio's error correction)\n"
    "  a disc image  NAME.cue (one BIN, or one BIN per track) or a cdrdao NAME.toc\n"
    "  track files   WAV files of CD audio that any program ripped, one per track\n"
    "FILE by its extension:\n"
    "  .mkv  the archival copy: the stored 144 x 80 pictures lossless (FFV1), shown\n"
    "        at 4:3, 18 fps, the 8-bit sound exactly as on the disc, with chapters;\n"
    "        its pictures are those 'trackloom decode' gives\n"
    "  .mp4  for watching: H.264 and AAC at 4:3, with chapters (also .mov, .m4v)\n"
    "\n"
    "A damaged record (its header unreadable or out of place) is shown as the picture\n"
    "before, with silence, and counted; the summary says where.\n"
    "\n"
    "Options:\n";

constexpr char kUsageTail[] =
    "\n"
    "An image or track file cut short gives the video of what it holds: the tracks\n"
    "before the cut whole, the one it ends in up to the cut, the summary naming it\n"
    "and the tracks missing after it; the exit status is then 1.\n"
    "\n"
    "The video is written under a temporary name and renamed when complete: Ctrl-C or\n"
    "an error leaves no half file. Exit status: 0 done, 1 failed (one line on stderr\n"
    "says why), 2 bad options, 130 interrupted.\n"
    "\n"
    "Examples:\n"
    "  trackloom rip /dev/sr0 -o cartoon.mkv\n"
    "  trackloom rip 'Cartoon (Track 01).cue' -o cartoon.mp4 --view panel\n";

constexpr int kMaxScale = 16;

// After --paranoia's word is read: a mode other than off needs libcdio's paranoia
// built in. The refusal's text, or "".
std::string CheckParanoia(const std::string& word, RipOptions* o) {
  o->paranoia_given = true;
  if (o->read.paranoia != cdio::Paranoia::kOff && !cdio::CdParanoiaBuiltIn()) {
    return "--paranoia " + word +
           " is not in this build of trackloom (it reads every disc once, as --paranoia off)";
  }
  return "";
}

std::string SetNumber(const char* name, const std::string& value, int max, int* field) {
  if (ParseWholeNumber(value, 1, max, field)) return "";
  return Format("%s takes a whole number from 1 to %d, not '%s'", name, max, value.c_str());
}

std::vector<Option> RipOptionTable(RipOptions& o) {
  return {
      {"output", 'o', "a video file name", StoreValue(&o.output), "FILE",
       "the video to write (.mkv or .mp4)"},
      {"each", 0, nullptr, StoreFlag(&o.each), nullptr,
       "one video per track instead: FILE-01.mkv, FILE-02.mkv, ..."},
      Choose(
          {"paranoia", 0, "full, normal or off", nullptr, "MODE",
           "a drive's error correction (an image is read once unless\n"
           "this is given):"},
          &o.read.paranoia,
          {{"full", cdio::Paranoia::kFull, "verify every sector, retry until it reads (default)"},
           {"normal", cdio::Paranoia::kNormal, "verify, retry a while, then go on"},
           {"off", cdio::Paranoia::kOff, "read each sector once, as the drive gives it"}},
          [&o](const std::string& word) { return CheckParanoia(word, &o); }),
      {"speed", 0, "a number",
       [&o](const std::string& v) { return SetNumber("--speed", v, 52, &o.read.speed); }, "N",
       "the drive's read speed (1-52); default: the drive's own"},
      Choose(
          {"view", 0, "pixels or panel", nullptr, "MODE", ".mp4 only: how the pictures are shown:"},
          &o.view,
          {{"pixels", View::kPixels, "the stored pixels (default)"},
           {"panel", View::kPanel, "the panel's coloured dots"}}),
      {"scale", 0, "a number",
       [&o](const std::string& v) { return SetNumber("--scale", v, kMaxScale, &o.scale); }, "N",
       ".mp4 only: the picture's size, N x 144 x 108 for pixels\n"
       "(default 4), N x 432 x 324 for the panel (default 2); 1-16"},
      {"overwrite", 0, nullptr, StoreFlag(&o.overwrite), nullptr,
       "replace the video when it exists"},
      JsonOption(&o.json,
                 "the summary as JSON on stdout: per track its records,\n"
                 "length, offset and damaged records"),
      QuietOption(&o.quiet, "no progress or summary; errors only"),
  };
}

int ParseRipOptions(int argc, char** argv, RipOptions& o, std::FILE* out, std::FILE* err) {
  const std::vector<Option> table = RipOptionTable(o);
  const CommandLine line = ReadCommandLine(
      argc, argv, table, HelpText(kUsageHead, table, {22, "this help"}, kUsageTail), out, err);
  if (line.exit_status) return *line.exit_status;
  o.sources = line.operands;
  if (!cdio::CdParanoiaBuiltIn()) o.read.paranoia = cdio::Paranoia::kOff;
  if (o.sources.empty()) {
    return UsageError(err, "rip",
                      "no source given: a CD drive, a disc image (.cue, .toc) or track WAV files");
  }
  if (o.output.empty()) return UsageError(err, "rip", "no video named: give one with -o OUT.mkv");
  const RipFormat format = RipFormatOf(o.output);
  if (format == RipFormat::kUnknown) {
    return UsageError(err, "rip",
                      "cannot write a video with chapters as '" + o.output +
                          "': end it in .mkv, .mp4, .mov or .m4v");
  }
  if (format == RipFormat::kArchive && (o.scale != 0 || o.view != View::kPixels)) {
    return UsageError(
        err, "rip",
        "an .mkv keeps the stored pictures as they are: --view and --scale are for .mp4");
  }
  if (o.scale == 0) o.scale = o.view == View::kPanel ? 2 : 4;
  return -1;
}

// A sheet libcdio reads as a drive: a cue sheet of one file, every track a single run
// of it, little-endian. Other layouts (a BIN per track, a TOC's SWAP and offsets,
// silence) are read from the files themselves.
bool CdioReadsImage(const DiscImage& image) {
  if (!NameEndsWith(image.sheet, ".cue")) return false;
  std::string file;
  for (const DiscTrack& t : image.tracks) {
    if (t.pieces.size() != 1 || t.pieces[0].path.empty() || t.pieces[0].big_endian || t.cut_short) {
      return false;
    }
    if (!file.empty() && t.pieces[0].path != file) return false;
    file = t.pieces[0].path;
  }
  return !file.empty();
}

// libcdio's reading of an image agrees with the sheet's: the same tracks, as long
// (libcdio counts the next track's pre-gap into a track).
bool SameTracks(const DiscReader& reader, const DiscImage& image) {
  const std::vector<DiscTrack>& t = image.tracks;
  if (reader.tracks().size() != t.size()) return false;
  for (size_t i = 0; i < t.size(); ++i) {
    const uint64_t gap = i + 1 < t.size() ? t[i + 1].pregap.length : 0;
    if (reader.tracks()[i].number != t[i].number ||
        reader.tracks()[i].length != t[i].length() + gap) {
      return false;
    }
  }
  return true;
}

// The sheet is read, and every file it names found to be a regular file, before any
// reader opens them: a FIFO or a device would make a reader wait or never end.
std::unique_ptr<DiscReader> OpenImage(const RipOptions& o, std::vector<std::string>* inputs,
                                      std::optional<DiscImage>* kept) {
  std::string error;
  *kept = ReadDiscImage(o.sources[0], &error, SheetKind::kByName, /*rippers=*/true);
  if (!*kept) throw CliError(error);
  const DiscImage* image = &**kept;
  for (const DiscTrack& t : image->tracks) {
    for (const DiscPiece& p : t.pieces) {
      if (!p.path.empty()) inputs->push_back(p.path);
    }
  }
  if (image->data_tracks.empty() && CdioReadsImage(*image)) {
    cdio::CdReadOptions read = o.read;
    if (!o.paranoia_given) read.paranoia = cdio::Paranoia::kOff;
    std::unique_ptr<DiscReader> cd = cdio::OpenCd(o.sources[0], true, read, &error);
    if (cd != nullptr && SameTracks(*cd, *image)) return cd;
  }
  std::unique_ptr<DiscReader> files = OpenImageFiles(*image, &error);
  if (files == nullptr) throw CliError(error);
  return files;
}

std::unique_ptr<DiscReader> OpenSource(const RipOptions& o, std::vector<std::string>* inputs,
                                       std::optional<DiscImage>* image) {
  std::string error;
  *inputs = o.sources;
  const std::string& first = o.sources[0];
  if (o.sources.size() == 1 && IsDiscImageName(first)) return OpenImage(o, inputs, image);
  if (o.sources.size() == 1 && cdio::IsCdDrive(first)) {
    std::unique_ptr<DiscReader> cd = cdio::OpenCd(first, false, o.read, &error);
    if (cd == nullptr) throw CliError(error);
    return cd;
  }
  for (const std::string& s : o.sources) {
    if (IsDiscImageName(s) || cdio::IsCdDrive(s)) {
      throw CliError("give one CD drive or one disc image at a time, not " + Quoted(s) +
                     " with other sources");
    }
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(s, ec))) {
      throw CliError(Quoted(s) + " does not exist: give a CD drive (/dev/sr0), a disc image " +
                     "(.cue or .toc) or track WAV files");
    }
    if (!NameEndsWith(s, ".wav")) {
      throw CliError("cannot tell what " + Quoted(s) +
                     " is: give a CD drive (/dev/sr0), a disc image (.cue or .toc) or track "
                     "WAV files");
    }
  }
  std::unique_ptr<DiscReader> wavs = OpenTrackWavs(o.sources, &error);
  if (wavs == nullptr) throw CliError(error);
  return wavs;
}

std::string SourceName(const RipOptions& o) {
  return o.sources.size() == 1 ? Quoted(o.sources[0])
                               : Format("the %zu track files", o.sources.size());
}

// Reads the whole disc through the stream into the output.
void ReadDisc(DiscReader& reader, RecordStream& stream, const Reporter& reporter) {
  constexpr size_t kChunk = 1 << 16;
  std::vector<uint8_t> chunk(kChunk);
  const auto records = [](uint64_t bytes) {
    return static_cast<int64_t>(bytes / kFrameRecordSize);
  };
  // The progress line redraws itself: for a terminal only, never into a pipe or a file.
  Progress progress(reporter.err, reporter.ShowsProgress(), records(reader.total()));
  std::string error;
  for (;;) {
    const int64_t n = reader.Read(chunk.data(), chunk.size(), &error);
    if (n < 0) throw CliError(error);
    if (StopRequested()) throw Stopped();
    if (n == 0) break;
    for (const auto& [from, length] : reader.TakeUnreadable()) stream.MarkUnreadable(from, length);
    if (!stream.Feed(chunk.data(), static_cast<size_t>(n))) throw Stopped();
    progress.Update(records(stream.position()));
  }
  progress.Finish();
  if (!stream.Finish()) throw Stopped();
}

// The image with each sample's two bytes the other way round from what its sheet says.
DiscImage Turned(DiscImage image) {
  for (DiscTrack& t : image.tracks) {
    for (DiscPiece& p : t.pieces) p.big_endian = !p.big_endian;
    t.pregap.big_endian = !t.pregap.big_endian;
  }
  return image;
}

// Where a source's byte order is said, for one whose samples hold records only when
// read the other way round.
std::string ByteOrderHint(const RipOptions& o, const std::optional<DiscImage>& image) {
  bool big = false;  // as the sheet reads its first file
  for (size_t i = image ? image->tracks.size() : 0; i-- > 0;) {
    const std::vector<DiscPiece>& pieces = image->tracks[i].pieces;
    if (!pieces.empty() && !pieces[0].path.empty()) big = pieces[0].big_endian;
  }
  if (NameEndsWith(o.sources[0], ".toc"))
    return big ? "the TOC may need SWAP on its FILE lines" : "the TOC's SWAP may be one too many";
  if (NameEndsWith(o.sources[0], ".cue"))
    return std::string("the cue sheet's FILE lines may need ") +
           (big ? "BINARY for MOTOROLA" : "MOTOROLA for BINARY");
  return "the track files hold their samples big-endian";
}

// Reads the disc; one whose records show only with each sample's bytes turned round
// is read again so, when its sheet can be read that way, and the user told.
std::unique_ptr<RecordStream> ReadRecords(std::unique_ptr<DiscReader>& reader,
                                          const std::optional<DiscImage>& image, RipOutput& output,
                                          const RipOptions& o, const Reporter& reporter) {
  auto stream = std::make_unique<RecordStream>(reader->tracks(), &output);
  ReadDisc(*reader, *stream, reporter);
  if (!stream->chapters().empty() || stream->swapped_headers() == 0 || !image) return stream;
  std::string error;
  reader = OpenImageFiles(Turned(*image), &error);
  if (reader == nullptr) throw CliError(error);
  reporter.Note(SourceName(o) +
                " holds its records with each sample's two bytes the other way round: read so (" +
                ByteOrderHint(o, image) + ")");
  stream = std::make_unique<RecordStream>(reader->tracks(), &output);
  ReadDisc(*reader, *stream, reporter);
  return stream;
}

// The videos --each finished before a rip failed or was stopped: complete, and kept.
std::string KeptText(const RipOutput& output) {
  std::string kept;
  for (const std::string& f : output.written()) kept += (kept.empty() ? "" : ", ") + f;
  return kept.empty() ? "" : "; the videos of the tracks before are complete and kept: " + kept;
}

int Rip(const RipOptions& o, const Reporter& reporter) {
  std::vector<std::string> inputs;
  std::optional<DiscImage> image;
  std::unique_ptr<DiscReader> reader = OpenSource(o, &inputs, &image);
  RipOutput output(o, inputs);
  output.CheckNames();
  std::unique_ptr<RecordStream> stream;
  std::vector<std::string> written;
  try {
    stream = ReadRecords(reader, image, output, o, reporter);
    if (!stream->chapters().empty()) written = output.Finish();
  } catch (const Stopped&) {
    reporter.Error(output.written().empty() ? "interrupted; no video was written"
                                            : "interrupted" + KeptText(output));
    return InterruptedExitStatus();
  } catch (const CliError& e) {
    if (StopRequested()) throw;
    throw CliError(e.what() + KeptText(output));
  }
  if (stream->chapters().empty()) {
    const std::string why =
        !reader->cut_tracks().empty() ? " (it ends early: " + CutText(reader->cut_tracks()) + ")"
        : reader->tracks().empty()    ? " (it has no audio tracks)"
        : stream->swapped_headers() > 0
            ? " (its samples read the other way round hold records: " + ByteOrderHint(o, image) +
                  ")"
            : "";
    throw CliError("no records of this player found in " + SourceName(o) + why +
                   "; nothing was written");
  }
  RipResult result{reader->how(),         stream->chapters(),   stream->tracks_seen(),
                   reader->data_tracks(), reader->cut_tracks(), written,
                   reader->read_errors()};
  if (reporter.json) {
    RipJson(reporter.out, o, result);
  } else if (reporter.Words()) {
    RipSummary(reporter.out, o, result);
  }
  std::fflush(reporter.out);
  if (result.cut.empty()) return 0;
  // What the source held is written; that it was not the whole disc is a failure.
  reporter.Error(SourceName(o) + (o.sources.size() > 1 ? " end" : " ends") + " early (" +
                 CutText(result.cut) +
                 "): " + (result.written.size() > 1 ? "the videos hold" : "the video holds") +
                 " what there was");
  return 1;
}

}  // namespace

int RunRip(int argc, char** argv) {
  RipOptions o;
  const int status = ParseRipOptions(argc, argv, o, stdout, stderr);
  if (status >= 0) return status;
  Reporter reporter;
  reporter.quiet = o.quiet;
  reporter.json = o.json;
  InstallInterruptHandlers();
  return Rip(o, reporter);
}

}  // namespace trackloom::cli
