#include "cli/commands/decode_options.h"

#include <cerrno>
#include <charconv>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "cli/commands/subcommands.h"
#include "cli/commands/track_tools.h"
#include "cli/common/arguments.h"
#include "cli/common/duration.h"
#include "cli/common/interrupt.h"
#include "cli/common/json_writer.h"
#include "cli/common/messages.h"
#include "cli/common/output_file.h"
#include "cli/common/platform.h"
#include "cli/common/progress.h"
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

constexpr const char kUsageHead[] =
    "Usage: trackloom decode FILE [-o DIR] [options]\n"
    "       trackloom decode IMAGE.cue|IMAGE.toc --track N [-o DIR] [options]\n"
    "\n"
    "Takes a track file apart into what a VideoNow Color player shows and plays:\n"
    "  DIR/record-00000.png, ...  each record's picture as stored, 144 x 80 exactly, every\n"
    "                             4-bit colour component at the level its record's own\n"
    "                             tables give it (the player shows it 4:3), named by\n"
    "                             record number from 0\n"
    "  DIR/sound.wav              the sound of the audio slots in record order: 8-bit\n"
    "                             unsigned, stereo, 17640 Hz, the format the filter takes\n"
    "                             as its sound file, so it can be fed back\n"
    "\n"
    "Options:\n";

constexpr const char kUsageTail[] =
    "\n"
    "A track with problems is decoded as far as its whole records go, with a warning\n"
    "('trackloom inspect FILE' lists the problems).\n"
    "\n"
    "Ctrl-C stops after the current record and completes every file written so far.\n"
    "Exit status: 0 done, 1 failed (something could not be written, or the track\n"
    "holds no records; one line on stderr says why), 2 bad options (or a track that\n"
    "cannot be read), 130 interrupted (Ctrl-C; the files written so far are\n"
    "complete).\n"
    "\n"
    "Examples:\n"
    "  trackloom decode \"demo-tracks/VDN Track 01.wav\" -o decoded\n"
    "  trackloom decode \"demo-tracks/VDN Track 01.wav\" --frames 0-35 --sheet sheet.png \\\n"
    "      --video preview.mp4\n"
    "  trackloom decode \"demo-tracks/VDN Track 01.wav\" --view panel --sheet panel.png\n";

template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  if (text.empty()) return false;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *value);
  return ec == std::errc() && end == text.data() + text.size();
}

// "A-B", "A-" or "A".
bool ParseRange(std::string_view text, DecodeOptions* o) {
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
std::string SetNumber(const char* name, const char* what, std::string_view value, int limit,
                      int* field) {
  if (ParseWholeNumber(value, 1, limit, field)) return "";
  return std::string(name) + " takes " + what + " from 1 to " + std::to_string(limit) + ", not '" +
         std::string(value) + "'";
}

std::vector<Option> OptionTable(DecodeOptions* o) {
  return {
      {"output", 'o', "a directory", StoreValue(&o->output_dir), "DIR",
       "where the pictures and sound.wav go (created if missing)"},
      {"frames", 0, "a range of records, e.g. 0-35",
       [o](const std::string& value) {
         return ParseRange(value, o)
                    ? ""
                    : "--frames takes record numbers A-B, A- or A (from 0, A not above B), not '" +
                          value + "'";
       },
       "A-B",
       "only records A to B, counted from 0 (\"A-\" to the end,\n"
       "\"A\" one record)"},
      Choose({"view", 0, "pixels or panel", nullptr, "MODE", "how the pictures are shown:"},
             &o->view,
             {{"pixels", View::kPixels,
               "the stored pixels (default); the sheet and the video\n"
               "show them at the screen's 4:3 shape, 144 x 108"},
              {"panel", View::kPanel,
               "what the panel shows: its 216 x 160 coloured dots,\n"
               "two screen pixels a dot, at 4:3 (432 x 324), in the\n"
               "PNGs, the sheet and the video"}}),
      {"scale", 0, "a value",
       [o](const std::string& value) {
         return SetNumber("--scale", "a whole number", value, kMaxScale, &o->scale);
       },
       "N", "enlarge pictures and video N times, nearest neighbour (1-16)"},
      {"sheet", 0, "a file", StoreValue(&o->sheet), "FILE.png",
       "a contact sheet: the pictures in a grid with their numbers, as\n"
       "PNG, JPEG, BMP, TIFF, WebP or PPM by the name's extension"},
      {"sheet-limit", 0, "a value",
       [o](const std::string& value) {
         return SetNumber("--sheet-limit", "a number", value, kMaxSheetLimit, &o->sheet_limit);
       },
       "N",
       "at most N pictures on the sheet, evenly spread (default 240,\n"
       "at most 2000, or 250 with --view panel)"},
      {"video", 0, "a file", StoreValue(&o->video), "FILE.mp4",
       "a preview video with sound at 18 fps (H.264 and AAC; .mkv,\n"
       ".mov, .avi, .ts and other containers for them also do)"},
      {"overwrite", 0, nullptr, StoreFlag(&o->overwrite), nullptr,
       "replace an existing --sheet or --video file (never one that\n"
       "is a link or not a regular file, nor the track itself)"},
      {"no-pictures", 0, nullptr, StoreFlag(&o->pictures, false), nullptr,
       "no per-record PNG files"},
      {"no-sound", 0, nullptr, StoreFlag(&o->sound, false), nullptr, "no sound.wav"},
      {"lenient", 0, nullptr, StoreFlag(&o->lenient), nullptr,
       "accept other lead-in lengths (tracks made by other encoders)"},
      {"track", 0, "a track number",
       [o](const std::string& value) {
         return SetNumber("--track", "a track number", value, kCdMaxTracks, &o->disc_track);
       },
       "N",
       "the track of a disc image to decode, from 1 (records are\n"
       "found by their header, as the player finds them)"},
      QuietOption(&o->quiet, "no progress or summary; errors only"),
      JsonOption(&o->json, "print the summary as JSON (and no progress display)"),
  };
}

}  // namespace

std::optional<int> ParseDecodeArguments(int argc, char** argv, DecodeOptions* o, std::FILE* out,
                                        std::FILE* err) {
  const std::vector<Option> table = OptionTable(o);
  const CommandLine line = ReadCommandLine(
      argc, argv, table, HelpText(kUsageHead, table, {21, "show this help"}, kUsageTail), out, err);
  if (line.exit_status) return line.exit_status;
  if (line.operands.empty()) return UsageError(err, "decode", "no track file given");
  if (line.operands.size() > 1) {
    return UsageError(
        err, "decode",
        "one track at a time ('" + line.operands[0] + "' and '" + line.operands[1] + "')");
  }
  o->track = line.operands[0];
  if (IsDiscImageName(o->track) != (o->disc_track > 0)) {
    return UsageError(err, "decode",
                      o->disc_track > 0
                          ? "--track picks a track of a disc image (.cue or .toc), and " +
                                o->track + " is not one"
                          : o->track + " is a disc image: say which track with --track N");
  }
  const bool wants_dir = o->pictures || o->sound;
  if (o->output_dir.empty() && wants_dir && o->sheet.empty() && o->video.empty()) {
    return UsageError(
        err, "decode",
        "say where the pictures and sound go with -o DIR (or ask only for --sheet or --video)");
  }
  if (o->output_dir.empty()) {
    o->pictures = false;
    o->sound = false;
  }
  if (!o->pictures && !o->sound && o->sheet.empty() && o->video.empty()) {
    return UsageError(
        err, "decode",
        "nothing to write (--no-pictures and --no-sound, with no --sheet or --video)");
  }
  if (!o->sheet.empty() && !ffmpeg::PictureFileNameFits(o->sheet)) {
    return UsageError(err, "decode",
                      "--sheet takes a picture file name ending in " +
                          ffmpeg::PictureFileExtensions() + ", not '" + o->sheet + "'");
  }
  if (!o->video.empty() && !ffmpeg::PreviewVideoNameFits(o->video)) {
    return UsageError(err, "decode",
                      "--video takes a file name ending in " + ffmpeg::PreviewVideoExtensions() +
                          " (a container for H.264 and AAC), not '" + o->video + "'");
  }
  if (o->view == View::kPanel && o->sheet_limit > kMaxPanelSheetLimit) {
    return UsageError(err, "decode",
                      "--sheet-limit takes at most " + std::to_string(kMaxPanelSheetLimit) +
                          " with --view panel");
  }
  return std::nullopt;
}

}  // namespace trackloom::cli
