// The page's file picker, uploads and previews: the handlers that read the user's
// files, each only after the checks of file_access.h.
#include <httplib.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "cli/common/cli_error.h"
#include "cli/common/interrupt.h"
#include "cli/common/platform.h"
#include "cli/common/unique_fd.h"
#include "cli/ffmpeg/sound_length.h"
#include "cli/pictures/png_writer.h"
#include "cli/studio/preview_proxy.h"
#include "cli/studio/request_guard.h"
#include "cli/studio/still_preview.h"
#include "cli/studio/studio_state.h"

namespace trackloom::cli::studio {

namespace fs = std::filesystem;

namespace {

// How long one file may take to be read for the page (its length, a preview): a
// file on a stalled drive or a damaged one endlessly slow to take apart is given up
// rather than holding a worker.
constexpr double kProbeSeconds = 15;

std::string ProbeFailure(const ReadDeadline& deadline, const CliError& e) {
  if (!deadline.passed()) return e.what();
  return "Reading this file took longer than " + std::to_string(static_cast<int>(kProbeSeconds)) +
         " seconds, so it was given up: it may be on a slow or failing drive, or damaged.";
}

// The pictures' shaping as the disc will have it: the video's fit (letterbox unless
// the page says otherwise) always given, as Make gives it.
bool PreviewOptions(const std::string& fit, ffmpeg::PictureOptions& options) {
  options.fit_given = true;
  return ffmpeg::ParseFit(fit.empty() ? "letterbox" : fit, options.fit);
}

Json FactsJson(const std::string& path, const std::string& kind) {
  Json facts = Json::object();
  facts["path"] = path;
  facts["name"] = fs::path(path).filename().string();
  if (kind == "disc") return facts;  // a disc image: rip reads it
  std::error_code ec;
  const ReadDeadline deadline(kProbeSeconds);
  if (kind == "sound") {
    try {
      facts["seconds"] = ffmpeg::SoundSeconds(path);
    } catch (const CliError& e) {
      facts["error"] = ProbeFailure(deadline, e);
    }
    return facts;
  }
  try {
    const VideoFacts v = ReadVideoFacts(path);
    // A still lasts as long as its sound: a piece of music's own, unless another is given.
    const double seconds = v.still ? ffmpeg::SoundSeconds(path) : v.seconds;
    facts["seconds"] = seconds;
    facts["still"] = v.still;
    facts["width"] = v.width;
    facts["height"] = v.height;
    Json chapters = Json::array();
    for (double c : v.chapters) chapters.push_back(c);
    facts["chapters"] = std::move(chapters);
  } catch (const CliError& e) {
    facts["error"] = ProbeFailure(deadline, e);
  }
  return facts;
}

// A file's facts for the page; a video's pictures are then made for previews at once.
Json FactsForPage(StudioState& state, const std::string& path, const std::string& kind) {
  Json facts = FactsJson(path, kind);
  ffmpeg::PictureOptions options;
  if (kind == "video" && !facts.value("still", true) && PreviewOptions("", options))
    state.proxies->Want(path, options, false);
  return facts;
}

void Browse(const StudioState& state, const httplib::Request& req, httplib::Response& res) {
  std::error_code ec;
  const std::string asked = req.get_param_value("dir");
  const fs::path dir = fs::canonical(asked.empty() ? state.folder : fs::path(asked), ec);
  if (ec || !fs::is_directory(dir)) return AnswerError(res, 404, "That folder cannot be opened.");
  Json dirs = Json::array(), files = Json::array();
  std::vector<std::pair<std::string, bool>> entries;
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.empty() || name[0] == '.') continue;
    std::error_code kind;
    if (it->is_directory(kind)) {
      entries.emplace_back(name, true);
    } else if (it->is_regular_file(kind) && IsMediaName(name)) {
      entries.emplace_back(name, false);
    }
  }
  std::sort(entries.begin(), entries.end());
  for (const auto& [name, is_dir] : entries) (is_dir ? dirs : files).push_back(name);
  Json body = Json::object();
  body["dir"] = dir.string();
  body["parent"] = dir.parent_path().string();
  body["dirs"] = std::move(dirs);
  body["files"] = std::move(files);
  AnswerJson(res, 200, body);
}

void Pick(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  const std::optional<Json> body = ParseJson(req.body);
  if (!body) return AnswerError(res, 400, "The request was not understood.");
  const std::string path = TextOf(*body, "path");
  if (HasNul(path)) return AnswerError(res, 400, "A file name cannot hold a NUL character.");
  std::error_code ec;
  if (path.empty() || !IsRegularFile(path) || !IsMediaName(path))
    return AnswerError(res, 404, "That is not a video, picture or sound file.");
  state.grants.Grant(path);
  AnswerJson(res, 200,
             FactsForPage(state, fs::canonical(path, ec).string(), TextOf(*body, "kind", "video")));
}

// A name in the project folder not yet taken: "name", "name (2)", ...
fs::path FreeName(const fs::path& folder, const std::string& name) {
  const fs::path base(name);
  fs::path candidate = folder / base;
  std::error_code ec;
  for (int n = 2; fs::exists(candidate, ec); ++n) {
    candidate = folder /
                (base.stem().string() + " (" + std::to_string(n) + ")" + base.extension().string());
  }
  return candidate;
}

// The body is written under a hidden temporary name and renamed once complete, so
// an upload cut short never looks like a video.
std::string Megabytes(uint64_t bytes) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
  return text;
}

// The body into a new file of its own (never through a link); "" when it is all there,
// the reason in the page's words otherwise.
std::string ReceiveUpload(const fs::path& part, const std::string& name, uint64_t length,
                          const httplib::ContentReader& reader) {
  UniqueFd fd(
      OpenDescriptor(part.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
  if (!fd) return "Cannot write in the project folder: " + std::string(std::strerror(errno));
  uint64_t written = 0;
  int failure = 0;
  reader([&](const char* data, size_t size) {
    if (written + size > length) return false;
    if (!WriteAll(fd.get(), data, size)) {
      failure = errno;
      return false;
    }
    written += size;
    return true;
  });
  if (failure == 0 && ::fsync(fd.get()) != 0) failure = errno;
  if (!fd.Close() && failure == 0) failure = errno;
  if (failure == ENOSPC)
    return "The disk of the project folder became full while " + name + " was added (" +
           Megabytes(written) + " of " + Megabytes(length) + "); nothing was kept.";
  if (failure != 0) return "Cannot write " + name + ": " + std::strerror(failure) + ".";
  if (written != length)
    return "The upload of " + name + " stopped after " + Megabytes(written) + " of " +
           Megabytes(length) + "; nothing was kept.";
  return "";
}

void Upload(StudioState& state, const httplib::Request& req, httplib::Response& res,
            const httplib::ContentReader& reader) {
  const std::string sent = req.get_param_value("name");
  const std::string name = SafeUploadName(sent);
  if (name.empty()) return AnswerError(res, 400, "A file needs a name to be added.");
  if (!IsMediaName(name))
    return AnswerError(res, 400,
                       name +
                           ": only video, picture and sound files can be added (by the end of "
                           "their name: .mp4, .mkv, .jpg, .wav, ...).");
  const uint64_t length =
      std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
  if (length == 0) return AnswerError(res, 411, "The upload of " + name + " gave no length.");
  // A little room is kept beside the file, for the project file and the tracks' start.
  constexpr uint64_t kReserve = uint64_t{1} << 20;
  std::error_code ec;
  const fs::space_info space = fs::space(state.folder, ec);
  if (!ec && length + kReserve > space.available)
    return AnswerError(res, 507,
                       "There is not enough free space in the project folder for " + name + ": " +
                           Megabytes(length) + " are needed, " + Megabytes(space.available) +
                           " are free.");
  const fs::path part = state.folder / (".trackloom-upload-" + NewSessionToken() + ".part");
  if (const std::string why = ReceiveUpload(part, name, length, reader); !why.empty()) {
    fs::remove(part, ec);
    return AnswerError(res, 400, why);
  }
  std::lock_guard lock(state.project_mutex);
  const fs::path target = FreeName(state.folder, name);
  // Never over a name that appeared meanwhile.
  if (NewName(part.c_str(), target.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    fs::remove(part, ec);
    return AnswerError(res, 500, "Cannot keep " + name + " in the project folder: " + why);
  }
  state.grants.Grant(target);
  Json facts = FactsForPage(state, target.string(), "video");
  if (name != sent) facts["renamed"] = name;
  AnswerJson(res, 200, facts);
}

void Preview(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  const std::string path = req.get_param_value("path");
  if (!state.grants.Granted(path)) return AnswerError(res, 403, "That file was not picked.");
  if (!IsRegularFile(path))
    return AnswerError(res, 404, "That is no longer a file that can be read.");
  ffmpeg::PictureOptions options;
  if (!PreviewOptions(req.get_param_value("fit"), options))
    return AnswerError(res, 400, "Unknown fit.");
  double seconds = std::atof(req.get_param_value("t").c_str());
  if (!std::isfinite(seconds)) seconds = 0;
  state.proxies->Want(path, options, true);
  StillPreview shown;
  if (std::optional<ProxyPicture> picture = state.proxies->Picture(path, options, seconds)) {
    shown = ComposePreview(picture->record, picture->shown_seconds);
  } else {
    const ReadDeadline deadline(kProbeSeconds);
    try {
      shown = RenderStillPreview(path, options, seconds);
    } catch (const CliError& e) {
      if (deadline.passed()) return AnswerError(res, 500, ProbeFailure(deadline, e));
      throw;
    }
  }
  const fs::path png = state.cache / ("preview-" + NewSessionToken() + ".png");
  std::string error;
  if (!WriteRgbPng(png.string(), shown.width, shown.height, shown.rgb.data(), &error))
    return AnswerError(res, 500, error);
  std::ifstream in(png, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  in.close();
  std::error_code ec;
  fs::remove(png, ec);
  res.set_header("X-Shown-Seconds", std::to_string(shown.shown_seconds));
  res.set_content(bytes.str(), "image/png");
}

// How far the pictures for previews at once have come, for the page's indicator.
void QuickPreviews(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  const std::string path = req.get_param_value("path");
  if (!state.grants.Granted(path)) return AnswerError(res, 403, "That file was not picked.");
  ffmpeg::PictureOptions options;
  if (!PreviewOptions(req.get_param_value("fit"), options))
    return AnswerError(res, 400, "Unknown fit.");
  static constexpr const char* kStates[] = {"none", "waiting", "making", "ready", "direct"};
  const ProxyProgress progress = state.proxies->Progress(path, options);
  Json answer = Json::object();
  answer["state"] = kStates[static_cast<int>(progress.state)];
  answer["fraction"] = progress.fraction;
  AnswerJson(res, 200, answer);
}

}  // namespace

void AddFileRoutes(httplib::Server& server, StudioState& state) {
  server.Get("/api/browse", [&state](const httplib::Request& req, httplib::Response& res) {
    Browse(state, req, res);
  });
  server.Post("/api/pick", [&state](const httplib::Request& req, httplib::Response& res) {
    Pick(state, req, res);
  });
  server.Post("/api/upload",
              [&state](const httplib::Request& req, httplib::Response& res,
                       const httplib::ContentReader& reader) { Upload(state, req, res, reader); });
  server.Get("/api/facts", [&state](const httplib::Request& req, httplib::Response& res) {
    const std::string path = req.get_param_value("path");
    if (!state.grants.Granted(path)) return AnswerError(res, 403, "That file was not picked.");
    if (!IsRegularFile(path))
      return AnswerError(res, 404, "That is no longer a file that can be read.");
    const std::string kind = req.get_param_value("kind");
    AnswerJson(res, 200, FactsForPage(state, path, kind.empty() ? "video" : kind));
  });
  server.Get("/api/quick", [&state](const httplib::Request& req, httplib::Response& res) {
    QuickPreviews(state, req, res);
  });
  server.Get("/api/preview", [&state](const httplib::Request& req, httplib::Response& res) {
    Preview(state, req, res);
  });
}

}  // namespace trackloom::cli::studio
