// The page's file picker, uploads and previews: the handlers that read the user's
// files, each only after the checks of file_access.h.
#include <httplib.h>

#include <cmath>
#include <fstream>
#include <sstream>

#include "cli/common/cli_error.h"
#include "cli/ffmpeg/sound_length.h"
#include "cli/pictures/png_writer.h"
#include "cli/studio/request_guard.h"
#include "cli/studio/still_preview.h"
#include "cli/studio/studio_state.h"

namespace trackloom::cli {

namespace fs = std::filesystem;

namespace {

Json FactsJson(const std::string& path, const std::string& kind) {
  Json facts = Json::object();
  facts["path"] = path;
  facts["name"] = fs::path(path).filename().string();
  if (kind == "disc") return facts;  // a disc image: rip reads it
  std::error_code ec;
  if (kind == "sound") {
    try {
      facts["seconds"] = SoundSeconds(path);
    } catch (const CliError& e) {
      facts["error"] = e.what();
    }
    return facts;
  }
  try {
    const VideoFacts v = ReadVideoFacts(path);
    // A still lasts as long as its sound: a piece of music's own, unless another is given.
    const double seconds = v.still ? SoundSeconds(path) : v.seconds;
    facts["seconds"] = seconds;
    facts["still"] = v.still;
    facts["width"] = v.width;
    facts["height"] = v.height;
    Json chapters = Json::array();
    for (double c : v.chapters) chapters.push_back(c);
    facts["chapters"] = std::move(chapters);
  } catch (const CliError& e) {
    facts["error"] = e.what();
  }
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
  AnswerJson(res, 200, FactsJson(fs::canonical(path, ec).string(), TextOf(*body, "kind", "video")));
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
void Upload(StudioState& state, const httplib::Request& req, httplib::Response& res,
            const httplib::ContentReader& reader) {
  const std::string name = SafeUploadName(req.get_param_value("name"));
  if (name.empty() || !IsMediaName(name))
    return AnswerError(res, 400, "Only video, picture and sound files can be added.");
  const uint64_t length =
      std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
  if (length == 0) return AnswerError(res, 411, "The upload of " + name + " gave no length.");
  std::error_code ec;
  const fs::space_info space = fs::space(state.folder, ec);
  if (length == 0 || ec || length + (64u << 20) > space.available)
    return AnswerError(res, 507,
                       "There is not enough free space in the project folder for " + name + ".");
  const fs::path part = state.folder / (".trackloom-upload-" + NewSessionToken() + ".part");
  uint64_t written = 0;
  {
    std::ofstream out(part, std::ios::binary);
    reader([&](const char* data, size_t size) {
      written += size;
      return written <= length &&
             static_cast<bool>(out.write(data, static_cast<std::streamsize>(size)));
    });
    if (!out.flush() || written != length) {
      out.close();
      fs::remove(part, ec);
      return AnswerError(res, 400, "The upload of " + name + " did not complete.");
    }
  }
  std::lock_guard lock(state.project_mutex);
  const fs::path target = FreeName(state.folder, name);
  fs::rename(part, target, ec);
  if (ec) {
    fs::remove(part, ec);
    return AnswerError(res, 500, "Cannot keep " + name + " in the project folder: " + ec.message());
  }
  state.grants.Grant(target);
  AnswerJson(res, 200, FactsJson(target.string(), "video"));
}

void Preview(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  const std::string path = req.get_param_value("path");
  if (!state.grants.Granted(path)) return AnswerError(res, 403, "That file was not picked.");
  if (!IsRegularFile(path))
    return AnswerError(res, 404, "That is no longer a file that can be read.");
  PictureOptions options;
  if (!ParseFit(req.get_param_value("fit").empty() ? "letterbox" : req.get_param_value("fit"),
                options.fit))
    return AnswerError(res, 400, "Unknown fit.");
  options.fit_given = true;
  const double seconds = std::atof(req.get_param_value("t").c_str());
  const StillPreview shown =
      RenderStillPreview(path, options, std::isfinite(seconds) ? seconds : 0);
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
    AnswerJson(res, 200, FactsJson(path, req.get_param_value("kind")));
  });
  server.Get("/api/preview", [&state](const httplib::Request& req, httplib::Response& res) {
    Preview(state, req, res);
  });
}

}  // namespace trackloom::cli
