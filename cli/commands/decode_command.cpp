// trackloom decode: takes a track apart into the pictures and sound a player shows.
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/json_writer.h"
#include "cli/pictures/contact_sheet.h"
#include "cli/common/interrupt.h"
#include "cli/pictures/png_writer.h"
#include "cli/ffmpeg/preview_video.h"
#include "cli/common/progress.h"
#include "cli/tracks/sound_wav_writer.h"
#include "cli/commands/subcommands.h"
#include "cli/tracks/track_reader.h"
#include "cli/commands/track_tools.h"
#include "cli/tracks/disc_image.h"
#include "core/track_format.h"

namespace trackloom::cli {

namespace {

namespace fs = std::filesystem;

constexpr const char kUsage[] =
    "Usage: trackloom decode FILE [-o DIR] [options]\n"
    "       trackloom decode IMAGE.cue|IMAGE.toc --track N [-o DIR] [options]\n"
    "\n"
    "Takes a track file apart into what a VideoNow Color player shows and plays:\n"
    "  DIR/record-00000.png, ...  each record's picture, 144 x 80 (every 4-bit colour\n"
    "                             component x 17), named by record number from 0\n"
    "  DIR/sound.wav              the sound of the audio slots in record order: 8-bit\n"
    "                             unsigned, stereo, 17640 Hz, the format the filter takes\n"
    "                             as its sound file, so it can be fed back\n"
    "\n"
    "Options:\n"
    "  -o, --output DIR   where the pictures and sound.wav go (created if missing)\n"
    "  --frames A-B       only records A to B, counted from 0 (\"A-\" to the end,\n"
    "                     \"A\" one record)\n"
    "  --scale N          enlarge pictures and video N times, nearest neighbour (1-16)\n"
    "  --sheet FILE.png   a contact sheet: the pictures in a grid with their numbers\n"
    "  --sheet-limit N    at most N pictures on the sheet, evenly spread (default 240,\n"
    "                     at most 2000)\n"
    "  --video FILE.mp4   a preview video with sound at 18 fps (H.264 and AAC)\n"
    "  --no-pictures      no per-record PNG files\n"
    "  --no-sound         no sound.wav\n"
    "  --lenient          accept other lead-in lengths (tracks made by other encoders)\n"
    "  --track N          the track of a disc image to decode, from 1 (records are\n"
    "                     found by their header, as the player finds them)\n"
    "  --quiet            no progress display\n"
    "  --json             print the summary as JSON (and no progress display)\n"
    "  -h, --help         show this help\n"
    "\n"
    "A track with problems is decoded as far as its whole records go, with a warning\n"
    "('trackloom inspect FILE' lists the problems).\n"
    "\n"
    "Exit status: 0 when everything asked for was written, 1 when something could not\n"
    "be written or the track holds no records, 2 for a wrong command line or a file\n"
    "that cannot be read, 130 after Ctrl-C (which stops after the current record and\n"
    "completes every file written so far).\n"
    "\n"
    "Examples:\n"
    "  trackloom decode \"demo-tracks/VDN Track 01.wav\" -o decoded\n"
    "  trackloom decode \"demo-tracks/VDN Track 01.wav\" --frames 0-35 --sheet sheet.png \\\n"
    "      --video preview.mp4\n";

constexpr int kDefaultSheetLimit = 240;
constexpr int kSheetColumns = 8;
// 2000 thumbnails make a sheet of about 1200 x 25500 pixels, some 90 MB while it is built.
constexpr int kMaxSheetLimit = 2000;
constexpr int kMaxScale = 16;

unsigned long long U(uint64_t v) { return static_cast<unsigned long long>(v); }

struct Options {
  std::string track;
  std::string output_dir;
  std::optional<uint64_t> first;
  std::optional<uint64_t> last;  // inclusive; none: to the end
  int scale = 1;
  std::string sheet;
  int sheet_limit = kDefaultSheetLimit;
  std::string video;
  bool pictures = true;
  bool sound = true;
  bool lenient = false;
  int disc_track = 0;  // of a disc image; 0: not given
  bool quiet = false;
  bool json = false;
};

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// "A-B", "A-" or "A".
bool ParseRange(std::string_view text, Options* o) {
  const size_t dash = text.find('-');
  uint64_t a = 0;
  if (dash == std::string_view::npos) {
    if (!ParseNumber(text, &a)) return false;
    o->first = a;
    o->last = a;
    return true;
  }
  if (!ParseNumber(text.substr(0, dash), &a)) return false;
  o->first = a;
  const std::string_view rest = text.substr(dash + 1);
  if (rest.empty()) return true;
  uint64_t b = 0;
  if (!ParseNumber(rest, &b) || b < a) return false;
  o->last = b;
  return true;
}

// what: "a whole number", "a number", as the help states the option.
std::string SetNumber(const char* name, const char* what, std::string_view value, int limit, int* field) {
  if (ParseWholeNumber(value, 1, limit, field)) return "";
  return std::string(name) + " takes " + what + " from 1 to " + std::to_string(limit) + ", not '" +
         std::string(value) + "'";
}

std::vector<Option> OptionTable(Options* o) {
  auto text = [](std::string* field) {
    return [field](const std::string& value) {
      *field = value;
      return std::string();
    };
  };
  auto set = [](bool* field, bool to) {
    return [field, to](const std::string&) {
      *field = to;
      return std::string();
    };
  };
  return {
      {"output", 'o', "a directory", text(&o->output_dir)},
      {"frames", 0, "a range of records, e.g. 0-35",
       [o](const std::string& value) {
         return ParseRange(value, o) ? ""
                                     : "--frames takes record numbers A-B, A- or A (from 0, A not above B), not '" +
                                           value + "'";
       }},
      {"scale", 0, "a value", [o](const std::string& value) { return SetNumber("--scale", "a whole number", value, kMaxScale, &o->scale); }},
      {"sheet", 0, "a file", text(&o->sheet)},
      {"sheet-limit", 0, "a value",
       [o](const std::string& value) { return SetNumber("--sheet-limit", "a number", value, kMaxSheetLimit, &o->sheet_limit); }},
      {"video", 0, "a file", text(&o->video)},
      {"no-pictures", 0, nullptr, set(&o->pictures, false)},
      {"no-sound", 0, nullptr, set(&o->sound, false)},
      {"lenient", 0, nullptr, set(&o->lenient, true)},
      {"track", 0, "a track number",
       [o](const std::string& value) { return SetNumber("--track", "a track number", value, kCdMaxTracks, &o->disc_track); }},
      {"quiet", 0, nullptr, set(&o->quiet, true)},
      {"json", 0, nullptr, set(&o->json, true)},
  };
}

// Nothing: go on; otherwise the exit status (2 for a wrong command line, 0 for --help).
std::optional<int> ParseArguments(int argc, char** argv, Options* o, std::FILE* out, std::FILE* err) {
  const CommandLine line = ReadCommandLine(argc, argv, OptionTable(o), kUsage, out, err);
  if (line.exit_status) return line.exit_status;
  if (line.operands.empty()) return UsageError(err, "decode", "no track file given");
  if (line.operands.size() > 1) {
    return UsageError(err, "decode",
                      "one track at a time ('" + line.operands[0] + "' and '" + line.operands[1] + "')");
  }
  o->track = line.operands[0];
  if (IsDiscImageName(o->track) != (o->disc_track > 0)) {
    return UsageError(err, "decode",
                      o->disc_track > 0 ? "--track picks a track of a disc image (.cue or .toc), and " + o->track +
                                              " is not one"
                                        : o->track + " is a disc image: say which track with --track N");
  }
  const bool wants_dir = o->pictures || o->sound;
  if (o->output_dir.empty() && wants_dir && o->sheet.empty() && o->video.empty()) {
    return UsageError(err, "decode", "say where the pictures and sound go with -o DIR (or ask only for --sheet or --video)");
  }
  if (o->output_dir.empty()) {
    o->pictures = false;
    o->sound = false;
  }
  if (!o->pictures && !o->sound && o->sheet.empty() && o->video.empty()) {
    return UsageError(err, "decode", "nothing to write (--no-pictures and --no-sound, with no --sheet or --video)");
  }
  return std::nullopt;
}

std::string RecordFileName(uint64_t record) {
  char name[40];
  std::snprintf(name, sizeof name, "record-%05llu.png", U(record));
  return name;
}

}  // namespace

int DecodeMain(int argc, char** argv, std::FILE* out, std::FILE* err) {
  Options o;
  if (const std::optional<int> status = ParseArguments(argc, argv, &o, out, err)) return *status;

  std::string error;
  std::unique_ptr<ByteSource> source;
  InspectOptions inspect_options;
  inspect_options.lenient = o.lenient;
  if (o.disc_track > 0) {
    const std::optional<DiscImage> image = ReadDiscImage(o.track, &error);
    if (!image) {
      std::fprintf(err, "trackloom decode: %s\n", error.c_str());
      return 2;
    }
    const DiscTrack* chosen = nullptr;
    for (const DiscTrack& t : image->tracks) {
      if (t.number == o.disc_track) chosen = &t;
    }
    if (chosen == nullptr) {
      std::fprintf(err, "trackloom decode: %s has tracks %d-%d, not %d\n", o.track.c_str(),
                   image->tracks.front().number, image->tracks.back().number, o.disc_track);
      return 2;
    }
    source = OpenDiscTrack(*chosen, &error);
    inspect_options.headerless = true;
    o.track += " track " + std::to_string(o.disc_track);
  } else {
    source = FileSource::Open(o.track, &error);
  }
  if (source == nullptr) {
    std::fprintf(err, "trackloom decode: cannot open %s: %s\n", o.track.c_str(), error.c_str());
    return 2;
  }
  const TrackReport report = InspectTrack(*source, inspect_options);
  if (report.read_failed) {
    std::fprintf(err, "trackloom decode: %s: %s\n", o.track.c_str(), report.read_error.c_str());
    return 2;
  }
  // Pictures are only taken from places that hold a record header: any file long
  // enough has "records" by its length alone, random bytes included.
  if (report.record_count > 0 && report.bad_header_records == report.record_count) {
    std::fprintf(err, "trackloom decode: %s is not a track: none of its %llu record-sized pieces starts "
                      "with a record header; nothing was written\n",
                 o.track.c_str(), U(report.record_count));
    return 1;
  }
  if (!report.valid()) {
    std::fprintf(err, "trackloom decode: warning: %s has %llu problem%s (see 'trackloom inspect'); "
                      "decoding its %llu whole records\n",
                 o.track.c_str(), U(report.problem_count), report.problem_count == 1 ? "" : "s",
                 U(report.record_count));
    for (size_t i = 0; i < report.problems.size() && i < 3; ++i) {
      std::fprintf(err, "  offset %llu: %s\n", U(report.problems[i].offset),
                   report.problems[i].what.c_str());
    }
  }
  if (report.record_count == 0) {
    std::fprintf(err, "trackloom decode: %s holds no whole record to decode\n", o.track.c_str());
    return 1;
  }

  const uint64_t first = o.first.value_or(0);
  if (first >= report.record_count) {
    std::fprintf(err, "trackloom decode: %s has records 0-%llu; --frames starts after them\n",
                 o.track.c_str(), U(report.record_count - 1));
    return 2;
  }
  const uint64_t last = std::min(o.last.value_or(report.record_count - 1), report.record_count - 1);
  const uint64_t count = last - first + 1;

  if (!o.output_dir.empty()) {
    std::error_code ec;
    fs::create_directories(o.output_dir, ec);
    if (ec || !fs::is_directory(o.output_dir)) {
      std::fprintf(err, "trackloom decode: cannot create the directory %s: %s\n",
                   o.output_dir.c_str(), ec ? ec.message().c_str() : "a file of that name exists");
      return 1;
    }
  }

  // The sheet is written last: a directory it cannot go into is found out now.
  if (!o.sheet.empty()) {
    const fs::path parent = fs::path(o.sheet).parent_path();
    std::error_code ec;
    if (!parent.empty() && !fs::is_directory(parent, ec)) {
      std::fprintf(err, "trackloom decode: cannot write the sheet %s: there is no directory %s\n",
                   o.sheet.c_str(), parent.string().c_str());
      return 1;
    }
  }

  // Set up every output before the first record, so that a missing encoder or an
  // unwritable file is reported before any work is done.
  std::unique_ptr<PreviewVideo> video;
  if (!o.video.empty()) {
    video = PreviewVideo::Create(o.video, o.scale, &error);
    if (video == nullptr) {
      std::fprintf(err, "trackloom decode: %s\n", error.c_str());
      return 1;
    }
  }
  SoundWavWriter sound;
  const std::string sound_path = o.sound ? (fs::path(o.output_dir) / "sound.wav").string() : "";
  if (o.sound && !sound.Open(sound_path, &error)) {
    std::fprintf(err, "trackloom decode: %s\n", error.c_str());
    return 1;
  }
  // The sheet takes every record of the range, or an even spread of sheet_limit.
  const uint64_t sheet_count = o.sheet.empty() ? 0 : std::min<uint64_t>(count, static_cast<uint64_t>(o.sheet_limit));
  std::optional<ContactSheet> sheet;
  if (sheet_count > 0) sheet.emplace(static_cast<int>(sheet_count), kSheetColumns);
  auto sheet_record = [&](uint64_t slot) {
    return sheet_count <= 1 ? first : first + slot * (count - 1) / (sheet_count - 1);
  };
  uint64_t next_sheet_slot = 0;

  const int scale = o.scale;
  std::vector<uint8_t> record(kFrameRecordSize);
  std::vector<uint8_t> rgb(kRgbPictureSize);
  std::vector<uint8_t> scaled(static_cast<size_t>(kRgbPictureSize) * static_cast<size_t>(scale * scale));
  uint8_t chunk[kAudioChunkSize];
  Progress progress(err, !o.quiet && !o.json && err == stderr && isatty(fileno(stderr)), static_cast<int64_t>(count));

  bool ok = true;
  uint64_t done = 0;
  // Ctrl-C stops after the current record: everything written so far is completed.
  for (uint64_t k = first; k <= last && ok; ++k) {
    if (!source->ReadAt(report.first_record + k * kFrameRecordSize, record.data(), record.size())) {
      std::fprintf(err, "trackloom decode: cannot read record %llu of %s\n", U(k), o.track.c_str());
      ok = false;
      break;
    }
    DecodeFramePicture(record.data() + kRecordHeaderSize, rgb.data());
    ExtractRecordSound(record.data(), chunk);
    if (o.pictures) {
      const std::string path = (fs::path(o.output_dir) / RecordFileName(k)).string();
      const uint8_t* picture = rgb.data();
      if (scale > 1) {
        ScaleRgb(rgb.data(), kPictureWidth, kPictureHeight, scale, scaled.data());
        picture = scaled.data();
      }
      if (!WriteRgbPng(path, kPictureWidth * scale, kPictureHeight * scale, picture, &error)) {
        std::fprintf(err, "trackloom decode: cannot write %s: %s\n", path.c_str(), error.c_str());
        ok = false;
      }
    }
    if (ok && o.sound && !sound.Append(chunk, sizeof chunk, &error)) {
      std::fprintf(err, "trackloom decode: %s\n", error.c_str());
      ok = false;
    }
    while (ok && sheet && next_sheet_slot < sheet_count && sheet_record(next_sheet_slot) == k) {
      sheet->Place(static_cast<int>(next_sheet_slot), k, rgb.data());
      ++next_sheet_slot;
    }
    if (ok && video && !video->AddRecord(rgb.data(), chunk, &error)) {
      std::fprintf(err, "trackloom decode: %s\n", error.c_str());
      ok = false;
    }
    if (ok) ++done;
    progress.Update(static_cast<int64_t>(done));
    if (StopRequested()) break;
  }
  progress.Finish();
  const bool interrupted = ok && done < count;

  // The sound file is finished even after a failure, so what was written stays usable.
  if (o.sound && !sound.Finish(&error)) {
    std::fprintf(err, "trackloom decode: %s\n", error.c_str());
    ok = false;
  }
  if (!ok) return 1;
  if (sheet && !sheet->WritePng(o.sheet, &error)) {
    std::fprintf(err, "trackloom decode: cannot write %s: %s\n", o.sheet.c_str(), error.c_str());
    return 1;
  }
  if (video && !video->Finish(&error)) {
    std::fprintf(err, "trackloom decode: %s\n", error.c_str());
    return 1;
  }
  if (interrupted) {
    std::fprintf(err, "trackloom decode: stopped after %llu of %llu records; the files written so far "
                      "are complete\n",
                 U(done), U(count));
    return InterruptedExitStatus();
  }

  if (o.json) {
    JsonWriter json(out);
    json.BeginObject().Key("track").String(o.track).Key("problems").Unsigned(report.problem_count);
    json.Key("first_record").Unsigned(first).Key("last_record").Unsigned(last).Key("records").Unsigned(count);
    json.Key("video_seconds").Fixed(static_cast<double>(count) / kFramesPerSecond, 3).Key("pictures");
    if (o.pictures) {
      json.BeginObject().Key("directory").String(o.output_dir);
      json.Key("first").String(RecordFileName(first)).Key("last").String(RecordFileName(last));
      json.Key("width").Integer(kPictureWidth * scale).Key("height").Integer(kPictureHeight * scale).EndObject();
    } else {
      json.Null();
    }
    json.Key("sound");
    if (o.sound) {
      json.BeginObject().Key("file").String(sound_path).Key("bytes").Unsigned(sound.data_bytes()).EndObject();
    } else {
      json.Null();
    }
    json.Key("sheet");
    if (sheet) {
      json.BeginObject().Key("file").String(o.sheet).Key("pictures").Unsigned(sheet_count).EndObject();
    } else {
      json.Null();
    }
    json.Key("video");
    if (video) {
      json.String(o.video);
    } else {
      json.Null();
    }
    json.EndObject();
    std::fputc('\n', out);
    return 0;
  }
  std::fprintf(out, "%s: records %llu-%llu (%llu, %s at 18 fps)\n", o.track.c_str(), U(first),
               U(last), U(count), FormatDuration(static_cast<double>(count) / kFramesPerSecond, 2).c_str());
  if (o.pictures) {
    std::fprintf(out, "  pictures  %s/%s ... %s (%d x %d)\n", o.output_dir.c_str(),
                 RecordFileName(first).c_str(), RecordFileName(last).c_str(), kPictureWidth * scale,
                 kPictureHeight * scale);
  }
  if (o.sound) {
    std::fprintf(out, "  sound     %s (%llu bytes, 8-bit stereo 17640 Hz)\n", sound_path.c_str(),
                 U(sound.data_bytes()));
  }
  if (sheet) {
    std::fprintf(out, "  sheet     %s (%llu pictures%s)\n", o.sheet.c_str(), U(sheet_count),
                 sheet_count < count ? ", evenly spread" : "");
  }
  if (video) std::fprintf(out, "  video     %s (H.264 + AAC, 18 fps)\n", o.video.c_str());
  return 0;
}

int RunDecode(int argc, char** argv) {
  InstallInterruptHandlers();
  return DecodeMain(argc, argv, stdout, stderr);
}

}  // namespace trackloom::cli
