// trackloom decode: takes a track apart into the pictures and sound a player shows.

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/commands/decode_options.h"
#include "cli/commands/subcommands.h"
#include "cli/commands/track_tools.h"
#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/fs_path.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
#include "cli/common/reporter.h"
#include "cli/ffmpeg/picture_file.h"
#include "cli/ffmpeg/preview_video.h"
#include "cli/pictures/contact_sheet.h"
#include "cli/pictures/panel_view.h"
#include "cli/pictures/png_writer.h"
#include "cli/tracks/disc_image.h"
#include "cli/tracks/sound_wav_writer.h"
#include "cli/tracks/track_reader.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

namespace fs = std::filesystem;

// The per-record pictures: the stored pixels exactly, or the panel at 4:3.
PictureRect PictureFileSize(const DecodeOptions& o) {
  if (o.view == View::kPanel) return ViewDisplaySize(View::kPanel, o.scale);
  return {0, 0, kPictureWidth * o.scale, kPictureHeight * o.scale};
}

std::string RecordFileName(uint64_t record) {
  char name[40];
  std::snprintf(name, sizeof name, "record-%05llu.png", U(record));
  return name;
}

// Says the error and gives status back, for the early returns.
int Fail(const Reporter& reporter, int status, const std::string& message) {
  reporter.Error(message);
  return status;
}

// One thing decode writes: it takes each record of the range in turn, then is finished.
class DecodeOutput {
 public:
  virtual ~DecodeOutput() = default;
  // rgb: the record's picture; chunk: its 1960 audio slot bytes. False with the
  // message in *error.
  virtual bool Add(uint64_t record, const uint8_t* rgb, const uint8_t* chunk,
                   std::string* error) = 0;
  virtual bool Finish(std::string* error) = 0;
  // Finished even when an output failed, so that what was written stays usable.
  virtual bool FinishedAfterFailure() const { return false; }
};

class PictureFiles final : public DecodeOutput {
 public:
  PictureFiles(std::string directory, View view, int scale, PictureRect size,
               const std::vector<std::string>& inputs)
      : inputs_(inputs),
        directory_(std::move(directory)),
        view_(view),
        scale_(scale),
        size_(size),
        scaled_(static_cast<size_t>(size_.width) * static_cast<size_t>(size_.height) * 3) {}
  bool Add(uint64_t record, const uint8_t* rgb, const uint8_t*, std::string* error) override {
    const std::string path = Utf8Name(FsPath(directory_) / RecordFileName(record));
    if (const std::string* input = SameFileAsInput(path, inputs_)) {
      *error = SameFileMessage(path, *input);
      return false;
    }
    if (view_ == View::kPanel) {
      RenderView(View::kPanel, rgb, size_.width, size_.height, scaled_.data());
      rgb = scaled_.data();
    } else if (scale_ > 1) {
      ScaleRgb(rgb, kPictureWidth, kPictureHeight, scale_, scaled_.data());
      rgb = scaled_.data();
    }
    if (WriteRgbPng(path, size_.width, size_.height, rgb, error)) return true;
    *error = "cannot write " + path + ": " + *error;
    return false;
  }
  bool Finish(std::string*) override { return true; }

 private:
  const std::vector<std::string>& inputs_;
  std::string directory_;
  View view_;
  int scale_;
  PictureRect size_;
  std::vector<uint8_t> scaled_;
};

class SoundFile final : public DecodeOutput {
 public:
  explicit SoundFile(std::string path) : path_(std::move(path)) {}
  bool Open(std::string* error) { return writer_.Open(path_, error); }
  bool Add(uint64_t, const uint8_t*, const uint8_t* chunk, std::string* error) override {
    return writer_.Append(chunk, kAudioChunkSize, error);
  }
  bool Finish(std::string* error) override { return writer_.Finish(error); }
  bool FinishedAfterFailure() const override { return true; }
  const std::string& path() const { return path_; }
  uint64_t data_bytes() const { return writer_.data_bytes(); }

 private:
  std::string path_;
  SoundWavWriter writer_;
};

// The sheet takes every record of the range, or an even spread of as many as it holds.
class SheetFile final : public DecodeOutput {
 public:
  SheetFile(std::string path, uint64_t first, uint64_t count, uint64_t cells, View view)
      : path_(std::move(path)),
        first_(first),
        count_(count),
        cells_(cells),
        view_(view),
        cell_(ViewDisplaySize(view, 1)),
        sheet_(static_cast<int>(cells), kSheetColumns, cell_.width, cell_.height),
        shown_(static_cast<size_t>(cell_.width) * static_cast<size_t>(cell_.height) * 3) {}
  bool Add(uint64_t record, const uint8_t* rgb, const uint8_t*, std::string*) override {
    if (next_cell_ < cells_ && RecordOfCell(next_cell_) == record) {
      RenderView(view_, rgb, cell_.width, cell_.height, shown_.data());
    }
    while (next_cell_ < cells_ && RecordOfCell(next_cell_) == record) {
      sheet_.Place(static_cast<int>(next_cell_), record, shown_.data());
      ++next_cell_;
    }
    return true;
  }
  bool Finish(std::string* error) override {
    if (ffmpeg::WriteRgbPicture(path_, sheet_.width(), sheet_.height(), sheet_.pixels().data(),
                                error))
      return true;
    *error = "cannot write " + path_ + ": " + *error;
    return false;
  }
  uint64_t cells() const { return cells_; }
  const PictureRect& cell() const { return cell_; }

 private:
  uint64_t RecordOfCell(uint64_t cell) const {
    return cells_ <= 1 ? first_ : first_ + cell * (count_ - 1) / (cells_ - 1);
  }
  std::string path_;
  uint64_t first_, count_, cells_;
  uint64_t next_cell_ = 0;
  View view_;
  PictureRect cell_;
  ContactSheet sheet_;
  std::vector<uint8_t> shown_;
};

class VideoFile final : public DecodeOutput {
 public:
  VideoFile(std::unique_ptr<ffmpeg::PreviewVideo> video, View view, PictureRect size)
      : video_(std::move(video)),
        view_(view),
        size_(size),
        shown_(static_cast<size_t>(size.width) * static_cast<size_t>(size.height) * 3) {}
  bool Add(uint64_t, const uint8_t* rgb, const uint8_t* chunk, std::string* error) override {
    RenderView(view_, rgb, size_.width, size_.height, shown_.data());
    return video_->AddRecord(shown_.data(), chunk, error);
  }
  bool Finish(std::string* error) override { return video_->Finish(error); }
  const PictureRect& size() const { return size_; }

 private:
  std::unique_ptr<ffmpeg::PreviewVideo> video_;
  View view_;
  PictureRect size_;
  std::vector<uint8_t> shown_;
};

// Every output asked for, in the order each record reaches them.
struct Outputs {
  std::unique_ptr<PictureFiles> pictures;
  std::unique_ptr<SoundFile> sound;
  std::unique_ptr<SheetFile> sheet;
  std::unique_ptr<VideoFile> video;
  std::vector<DecodeOutput*> all() const {
    std::vector<DecodeOutput*> v;
    for (DecodeOutput* out : std::initializer_list<DecodeOutput*>{pictures.get(), sound.get(),
                                                                  sheet.get(), video.get()}) {
      if (out != nullptr) v.push_back(out);
    }
    return v;
  }
};

struct Range {
  uint64_t first = 0, last = 0, count = 0;
};

// The track file, or the track of a disc image --track names. Nothing with the exit
// status once the failure is reported.
std::optional<int> OpenTrack(DecodeOptions& o, std::unique_ptr<ByteSource>* source,
                             InspectOptions* inspect, const Reporter& reporter) {
  std::string error;
  if (o.disc_track > 0) {
    const std::optional<DiscImage> image = ReadDiscImage(o.track, &error);
    if (!image) return Fail(reporter, 2, error);
    const DiscTrack* chosen = nullptr;
    for (const DiscTrack& t : image->tracks) {
      if (t.number == o.disc_track) chosen = &t;
    }
    if (chosen == nullptr) {
      return Fail(reporter, 2,
                  o.track + " has tracks " + std::to_string(image->tracks.front().number) + "-" +
                      std::to_string(image->tracks.back().number) + ", not " +
                      std::to_string(o.disc_track));
    }
    *source = OpenDiscTrack(*chosen, &error);
    inspect->headerless = true;
    o.inputs.push_back(o.track);
    for (const DiscTrack& t : image->tracks) {
      for (const DiscPiece& piece : t.pieces) o.inputs.push_back(piece.path);
    }
    o.track += " track " + std::to_string(o.disc_track);
  } else {
    *source = FileSource::Open(o.track, &error);
    o.inputs.push_back(o.track);
  }
  if (*source == nullptr) return Fail(reporter, 2, "cannot open " + o.track + ": " + error);
  return std::nullopt;
}

// The records to decode, after a warning for a track with problems.
std::optional<int> ChooseRange(const DecodeOptions& o, const TrackReport& report, Range* range,
                               const Reporter& reporter) {
  if (report.interrupted)
    return Fail(reporter, InterruptedExitStatus(),
                "interrupted while reading " + o.track + "; nothing was written");
  if (report.read_failed) return Fail(reporter, 2, o.track + ": " + report.read_error);
  // Pictures are only taken from places that hold a record header: any file long
  // enough has "records" by its length alone, random bytes included.
  if (report.record_count > 0 && report.bad_header_records == report.record_count) {
    return Fail(reporter, 1,
                o.track + " is not a track: none of its " + std::to_string(report.record_count) +
                    " record-sized pieces starts with a record header; nothing was written");
  }
  if (!report.valid()) {
    reporter.Warning(o.track + " has " +
                     Count(static_cast<int64_t>(report.problem_count), "problem") +
                     " (see 'trackloom inspect'); decoding its " +
                     std::to_string(report.record_count) + " whole records");
    for (size_t i = 0; i < report.problems.size() && i < 3; ++i) {
      Tell(reporter.err, "  offset " + std::to_string(report.problems[i].offset) + ": " +
                             report.problems[i].what);
    }
  }
  if (report.record_count == 0)
    return Fail(reporter, 1, o.track + " holds no whole record to decode");
  range->first = o.first.value_or(0);
  if (range->first >= report.record_count) {
    return Fail(reporter, 2,
                o.track + " has records 0-" + std::to_string(report.record_count - 1) +
                    "; --frames starts after them");
  }
  range->last = std::min(o.last.value_or(report.record_count - 1), report.record_count - 1);
  range->count = range->last - range->first + 1;
  return std::nullopt;
}

// The files decode is to write by name: none of them one of its inputs, and a
// --sheet or --video file already there only replaced when --overwrite says so.
std::optional<int> CheckNamedOutputs(const DecodeOptions& o, const Reporter& reporter) {
  std::vector<std::string> named;
  if (o.sound) named.push_back(Utf8Name(FsPath(o.output_dir) / "sound.wav"));
  if (!o.sheet.empty()) named.push_back(o.sheet);
  if (!o.video.empty()) named.push_back(o.video);
  for (const std::string& path : named) {
    if (const std::string* input = SameFileAsInput(path, o.inputs)) {
      return Fail(reporter, 1, SameFileMessage(path, *input));
    }
  }
  for (const std::string* path : {&o.sheet, &o.video}) {
    if (path->empty()) continue;
    const std::string refusal = OutputRefusal(*path, o.overwrite);
    if (!refusal.empty()) return Fail(reporter, 1, "cannot write '" + *path + "': " + refusal);
  }
  return std::nullopt;
}

// Every output is set up before the first record, so that a missing directory or
// encoder or an unwritable file is reported before any work is done.
std::optional<int> CreateOutputs(const DecodeOptions& o, const Range& range, Outputs* outputs,
                                 const Reporter& reporter) {
  if (!o.output_dir.empty()) {
    std::error_code ec;
    fs::create_directories(FsPath(o.output_dir), ec);
    if (ec || !fs::is_directory(FsPath(o.output_dir))) {
      return Fail(reporter, 1,
                  "cannot create the directory " + o.output_dir + ": " +
                      (ec ? ec.message() : "a file of that name exists"));
    }
  }
  // The sheet is written last: a directory it cannot go into is found out now.
  if (!o.sheet.empty()) {
    const fs::path parent = FsPath(o.sheet).parent_path();
    std::error_code ec;
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
      return Fail(
          reporter, 1,
          "cannot write the sheet " + o.sheet + ": there is no directory " + Utf8Name(parent));
    }
  }
  if (const std::optional<int> status = CheckNamedOutputs(o, reporter)) return status;
  std::string error;
  if (!o.video.empty()) {
    const PictureRect shown = ViewDisplaySize(o.view, o.scale);
    std::unique_ptr<ffmpeg::PreviewVideo> video =
        ffmpeg::PreviewVideo::Create(o.video, shown.width, shown.height, &error);
    if (video == nullptr) return Fail(reporter, 1, error);
    outputs->video = std::make_unique<VideoFile>(std::move(video), o.view, shown);
  }
  if (o.sound) {
    outputs->sound = std::make_unique<SoundFile>(Utf8Name(FsPath(o.output_dir) / "sound.wav"));
    if (!outputs->sound->Open(&error)) return Fail(reporter, 1, error);
  }
  if (o.pictures)
    outputs->pictures =
        std::make_unique<PictureFiles>(o.output_dir, o.view, o.scale, PictureFileSize(o), o.inputs);
  const uint64_t cells =
      o.sheet.empty() ? 0 : std::min<uint64_t>(range.count, static_cast<uint64_t>(o.sheet_limit));
  if (cells > 0)
    outputs->sheet = std::make_unique<SheetFile>(o.sheet, range.first, range.count, cells, o.view);
  return std::nullopt;
}

// Takes every record of the range to every output. Ctrl-C stops after the current
// record. Returns how many records every output took; *ok false after a failure.
uint64_t DecodeRecords(const DecodeOptions& o, ByteSource& source, const TrackReport& report,
                       const Range& range, const Outputs& outputs, bool* ok,
                       const Reporter& reporter) {
  std::vector<uint8_t> record(kFrameRecordSize);
  std::vector<uint8_t> rgb(kRgbPictureSize);
  uint8_t chunk[kAudioChunkSize];
  Progress progress(reporter.err, reporter.ShowsProgress(), static_cast<int64_t>(range.count));
  const std::vector<DecodeOutput*> all = outputs.all();
  std::string error;
  uint64_t done = 0;
  *ok = true;
  for (uint64_t k = range.first; k <= range.last && *ok; ++k) {
    if (!source.ReadAt(report.first_record + k * kFrameRecordSize, record.data(), record.size())) {
      reporter.Error("cannot read record " + std::to_string(k) + " of " + o.track);
      *ok = false;
      break;
    }
    DecodeRecordPicture(record.data(), rgb.data());
    ExtractRecordSound(record.data(), chunk);
    for (DecodeOutput* output : all) {
      if (*ok && !output->Add(k, rgb.data(), chunk, &error)) {
        reporter.Error(error);
        *ok = false;
      }
    }
    if (*ok) ++done;
    progress.Update(static_cast<int64_t>(done));
    if (StopRequested()) break;
  }
  progress.Finish();
  return done;
}

// Finishes every output; after a failure only those that keep what was written.
bool FinishOutputs(const Outputs& outputs, bool ok, const Reporter& reporter) {
  std::string error;
  for (DecodeOutput* output : outputs.all()) {
    if (!ok && !output->FinishedAfterFailure()) continue;
    if (!output->Finish(&error)) {
      reporter.Error(error);
      ok = false;
    }
  }
  return ok;
}

void PrintJsonSummary(std::FILE* out, const DecodeOptions& o, const TrackReport& report,
                      const Range& r, const Outputs& outputs) {
  JsonWriter json(out);
  json.BeginObject().Path("track", o.track).Key("problems").Unsigned(report.problem_count);
  json.Key("first_record")
      .Unsigned(r.first)
      .Key("last_record")
      .Unsigned(r.last)
      .Key("records")
      .Unsigned(r.count);
  json.Key("video_seconds")
      .Fixed(static_cast<double>(r.count) / kFramesPerSecond, 3)
      .Key("pictures");
  if (outputs.pictures) {
    json.BeginObject().Path("directory", o.output_dir);
    json.Key("first").String(RecordFileName(r.first)).Key("last").String(RecordFileName(r.last));
    const PictureRect size = PictureFileSize(o);
    json.Key("width").Integer(size.width).Key("height").Integer(size.height).EndObject();
  } else {
    json.Null();
  }
  json.Key("sound");
  if (outputs.sound) {
    json.BeginObject()
        .Path("file", outputs.sound->path())
        .Key("bytes")
        .Unsigned(outputs.sound->data_bytes());
    json.EndObject();
  } else {
    json.Null();
  }
  json.Key("sheet");
  if (outputs.sheet) {
    json.BeginObject()
        .Path("file", o.sheet)
        .Key("pictures")
        .Unsigned(outputs.sheet->cells())
        .EndObject();
  } else {
    json.Null();
  }
  if (outputs.video) {
    json.Path("video", o.video);
  } else {
    json.Key("video").Null();
  }
  json.EndObject();
  std::fputc('\n', out);
}

void PrintTextSummary(std::FILE* out, const DecodeOptions& o, const Range& r,
                      const Outputs& outputs) {
  std::fprintf(out, "%s: records %llu-%llu (%llu, %s at 18 fps)\n", Printable(o.track).c_str(),
               U(r.first), U(r.last), U(r.count),
               FormatDuration(static_cast<double>(r.count) / kFramesPerSecond, 2).c_str());
  if (outputs.pictures) {
    const PictureRect size = PictureFileSize(o);
    std::fprintf(out, "  pictures  %s/%s ... %s (%d x %d, %s)\n", Printable(o.output_dir).c_str(),
                 RecordFileName(r.first).c_str(), RecordFileName(r.last).c_str(), size.width,
                 size.height,
                 o.view == View::kPanel ? "the panel's dots at 4:3" : "the stored pixels");
  }
  if (outputs.sound) {
    std::fprintf(out, "  sound     %s (%llu bytes, 8-bit stereo 17640 Hz)\n",
                 Printable(outputs.sound->path()).c_str(), U(outputs.sound->data_bytes()));
  }
  if (outputs.sheet) {
    std::fprintf(out, "  sheet     %s (%llu pictures%s, %d x %d each at 4:3)\n",
                 Printable(o.sheet).c_str(), U(outputs.sheet->cells()),
                 outputs.sheet->cells() < r.count ? ", evenly spread" : "",
                 outputs.sheet->cell().width, outputs.sheet->cell().height);
  }
  if (outputs.video) {
    std::fprintf(out, "  video     %s (H.264 + AAC, 18 fps, %d x %d at 4:3)\n",
                 Printable(o.video).c_str(), outputs.video->size().width,
                 outputs.video->size().height);
  }
}

}  // namespace

int DecodeMain(int argc, char** argv, Reporter reporter) {
  DecodeOptions o;
  if (const std::optional<int> status =
          ParseDecodeArguments(argc, argv, &o, reporter.out, reporter.err))
    return *status;
  reporter.quiet = o.quiet;
  reporter.json = o.json;
  std::unique_ptr<ByteSource> source;
  InspectOptions inspect;
  inspect.lenient = o.lenient;
  if (const std::optional<int> status = OpenTrack(o, &source, &inspect, reporter)) return *status;
  const TrackReport report = InspectTrack(*source, inspect);
  Range range;
  if (const std::optional<int> status = ChooseRange(o, report, &range, reporter)) return *status;
  Outputs outputs;
  if (const std::optional<int> status = CreateOutputs(o, range, &outputs, reporter)) return *status;

  bool ok = true;
  const uint64_t done = DecodeRecords(o, *source, report, range, outputs, &ok, reporter);
  const bool interrupted = ok && done < range.count;
  if (!FinishOutputs(outputs, ok, reporter)) return 1;
  if (interrupted) {
    reporter.Error(
        Format("stopped after %llu of %llu records; the files written so far are complete", U(done),
               U(range.count)));
    return InterruptedExitStatus();
  }
  if (o.json) {
    PrintJsonSummary(reporter.out, o, report, range, outputs);
  } else if (!o.quiet) {
    PrintTextSummary(reporter.out, o, range, outputs);
  }
  return 0;
}

int RunDecode(int argc, char** argv) {
  InstallInterruptHandlers();
  return DecodeMain(argc, argv, {});
}

}  // namespace trackloom::cli
