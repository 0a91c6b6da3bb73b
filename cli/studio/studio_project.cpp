// The project the page edits (saved beside the videos), the first track remembered
// for every project, and making the disc: the handlers that write.
#include <httplib.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <utility>

#include "cli/studio/project_check.h"
#include "cli/studio/request_guard.h"
#include "cli/studio/studio_state.h"

namespace trackloom::cli::studio {

namespace fs = std::filesystem;

namespace {

std::optional<Json> ReadJsonFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return ParseJson(text.str());
}

// Written whole under another name first, so a crash never leaves half a file.
bool WriteJsonFile(const fs::path& path, const Json& value) {
  return WriteFileWhole(path, WriteJson(value) + "\n");
}

// Where the first track chosen once is remembered for later projects.
fs::path ConfigFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  const char* home = std::getenv("HOME");
  const fs::path base = xdg != nullptr && xdg[0] == '/' ? fs::path(xdg)
                        : home != nullptr               ? fs::path(home) / ".config"
                                                        : fs::path();
  return base.empty() ? fs::path() : base / "trackloom" / "studio.json";
}

std::string RememberedFirst() {
  const fs::path config = ConfigFile();
  if (config.empty()) return "";
  const std::optional<Json> saved = ReadJsonFile(config);
  return saved ? TextOf(*saved, "first") : "";
}

void RememberFirst(const std::string& first) {
  const fs::path config = ConfigFile();
  if (config.empty() || first.empty() || first == RememberedFirst()) return;
  std::error_code ec;
  fs::create_directories(config.parent_path(), ec);
  WriteJsonFile(config, Json{{"first", first}});
}

// Every file the project names must have been picked (or be the studio's own).
std::string UnpickedFile(const StudioState& state, const Json& project) {
  std::vector<std::string> files{TextOf(project, "first")};
  for (const Json& v : ItemsOf(project, "videos")) {
    files.push_back(TextOf(v, "path"));
    files.push_back(TextOf(v, "audio"));
  }
  for (const std::string& f : files) {
    if (!f.empty() && !state.grants.Granted(f)) return f;
  }
  return "";
}

// Checks the project the page sends and saves it; false, with the answer given, when
// it is refused: a bad value is named with its field, so the page shows it there.
bool StoreProject(StudioState& state, const std::string& body, httplib::Response& res) {
  const std::optional<Json> project = ParseJson(body);
  if (!project || !project->is_object() || body.size() > (1u << 20)) {
    AnswerError(res, 400, "The project was not understood.");
    return false;
  }
  if (const std::string bad = MistypedField(*project); !bad.empty()) {
    AnswerError(res, 400, "The project cannot be saved: " + bad + ".");
    return false;
  }
  if (const std::string f = UnpickedFile(state, *project); !f.empty()) {
    AnswerError(res, 403, "That file was not picked: " + f);
    return false;
  }
  const std::string output = TextOf(*project, "output");
  if (!output.empty() &&
      !IsInsideFolder(state.folder,
                      fs::path(output).is_absolute() ? fs::path(output) : state.folder / output)) {
    AnswerJson(res, 400,
               Json{{"message", "The disc is written inside the project folder, not to " + output},
                    {"field", "output"}});
    return false;
  }
  if (const ValueProblem bad = FirstBadValue(*project); !bad.message.empty()) {
    AnswerJson(res, 400, Json{{"message", bad.message}, {"field", bad.field}});
    return false;
  }
  std::lock_guard lock(state.project_mutex);
  if (!WriteJsonFile(state.folder / kProjectFileName, *project)) {
    AnswerError(res, 500, "Cannot save the project in " + state.folder.string());
    return false;
  }
  RememberFirst(TextOf(*project, "first"));
  return true;
}

void SaveProject(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  if (StoreProject(state, req.body, res)) AnswerJson(res, 200, Json::object());
}

// A project file that cannot be read whole is never overwritten unseen: it is kept
// under another name, what can be read of it is loaded, and the page is told.
void RescueProjectFile(StudioState& state) {
  const fs::path file = state.folder / kProjectFileName;
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return;
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::optional<Json> parsed = ParseJson(text.str());
  std::vector<std::string> dropped;
  const Json readable = ReadableProject(parsed ? *parsed : Json(), &dropped);
  if (dropped.empty()) return;
  fs::path kept = state.folder / "trackloom-project.damaged.json";
  for (int n = 2; fs::exists(kept, ec) || fs::is_symlink(kept, ec); ++n)
    kept = state.folder / ("trackloom-project.damaged-" + std::to_string(n) + ".json");
  fs::rename(file, kept, ec);
  if (ec) {
    state.project_notice = "The project file could not be read, nor kept aside (" + ec.message() +
                           "): an empty project was begun.";
    return;
  }
  WriteJsonFile(file, readable);
  state.project_notice =
      (parsed ? "Part of the project file could not be read and was left out: " + dropped.front() +
                    (dropped.size() > 1 ? ", and more" : "") + ". "
              : std::string("The project file could not be read: an empty project was begun. ")) +
      "The file as it was is kept as " + kept.filename().string() + ".";
}

Json LoadProject(StudioState& state) {
  std::lock_guard lock(state.project_mutex);
  std::optional<Json> project = ReadJsonFile(state.folder / kProjectFileName);
  if (!project || !project->is_object()) project = Json::object();
  // The first track of earlier projects, while it is still one a disc can begin with.
  if (TextOf(*project, "first").empty()) {
    const std::string remembered = RememberedFirst();
    if (FirstTrackProblem(remembered).empty()) (*project)["first"] = remembered;
  }
  return *project;
}

// Makes the disc of the project the page shows: the one it sends, saved first, so a
// save refused earlier never leaves an older project to be made instead.
void Make(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  if (!req.body.empty() && !StoreProject(state, req.body, res)) return;
  const Json project = LoadProject(state);
  if (const std::string f = UnpickedFile(state, project); !f.empty())
    return AnswerError(res, 403, "That file was not picked: " + f);
  const fs::path output = OutputFolder(state, project);
  DiscJobPlan plan;
  if (const std::string missing = PlanDisc(project, output.string(), plan); !missing.empty())
    return AnswerError(res, 400, missing);
  std::string why;
  if (!MakeFolderInside(state.folder, output, &why))
    return AnswerError(res, 400, "The disc cannot be written: " + why + ".");
  plan.project = state.folder.string();
  state.grants.GrantFolder(output);
  if (!state.job.Start(std::move(plan)))
    return AnswerError(res, 409, "A disc is being made already.");
  // The tracks made before are gone or replaced: so are the videos made of them.
  state.watch.Forget();
  AnswerJson(res, 200, Json::object());
}

// The track number the page asks about (a parameter, or "track" in a JSON body) and
// its file; 0 when there is no such track.
int WatchedTrack(const StudioState& state, const httplib::Request& req, std::string* track) {
  long index = 0;
  if (req.has_param("track")) {
    index = std::strtol(req.get_param_value("track").c_str(), nullptr, 10);
  } else if (const std::optional<Json> body = ParseJson(req.body)) {
    const double asked = NumberOf(*body, "track");
    if (asked >= 1 && asked <= 1e6) index = static_cast<long>(asked);
  }
  const std::vector<std::string> tracks = state.job.Tracks();
  if (index < 1 || static_cast<size_t>(index) > tracks.size()) return 0;
  *track = tracks[static_cast<size_t>(index - 1)];
  return static_cast<int>(index);
}

void AddWatchRoutes(httplib::Server& server, StudioState& state) {
  auto route = [&state](Json (*answer)(StudioState&, int, const std::string&)) {
    return [&state, answer](const httplib::Request& req, httplib::Response& res) {
      std::string track;
      const int index = WatchedTrack(state, req, &track);
      if (index == 0) return AnswerError(res, 404, "There is no such track.");
      AnswerJson(res, 200, answer(state, index, track));
    };
  };
  server.Post("/api/watch/start", route([](StudioState& s, int index, const std::string& track) {
                return s.watch.Start(index, track);
              }));
  server.Get("/api/watch/status", route([](StudioState& s, int index, const std::string&) {
               return s.watch.Status(index);
             }));
  server.Post("/api/watch/cancel", route([](StudioState& s, int index, const std::string&) {
                return s.watch.Cancel(index);
              }));
  // The video itself, made first when it is not ready: a request that waits.
  server.Get("/api/watch", [&state](const httplib::Request& req, httplib::Response& res) {
    std::string track, why;
    const int index = WatchedTrack(state, req, &track);
    if (index == 0) return AnswerError(res, 404, "There is no such track.");
    state.watch.Start(index, track);
    const fs::path video = state.watch.Wait(index, &why);
    std::ifstream in(video, std::ios::binary);
    if (video.empty() || !in)
      return AnswerError(res, 500, why.empty() ? "The video of the track is gone." : why);
    std::stringstream bytes;
    bytes << in.rdbuf();
    res.set_content(bytes.str(), "video/mp4");
  });
}

}  // namespace

fs::path OutputFolder(const StudioState& state, const Json& project) {
  const std::string asked = TextOf(project, "output");
  if (!asked.empty()) {
    const fs::path output = fs::path(asked).is_absolute() ? fs::path(asked) : state.folder / asked;
    if (IsInsideFolder(state.folder, output)) return output;
  }
  return state.folder / "disc";
}

void AddProjectRoutes(httplib::Server& server, StudioState& state) {
  RescueProjectFile(state);
  // The files of the project saved last time were picked then.
  const Json saved = LoadProject(state);
  state.grants.Grant(TextOf(saved, "first"));
  for (const Json& v : ItemsOf(saved, "videos")) {
    state.grants.Grant(TextOf(v, "path"));
    if (!TextOf(v, "audio").empty()) state.grants.Grant(TextOf(v, "audio"));
  }
  server.Get("/api/project", [&state](const httplib::Request&, httplib::Response& res) {
    Json project = LoadProject(state);
    project["folder"] = state.folder.string();
    std::lock_guard lock(state.project_mutex);
    if (!state.project_notice.empty()) project["notice"] = std::exchange(state.project_notice, "");
    AnswerJson(res, 200, project);
  });
  server.Post("/api/project", [&state](const httplib::Request& req, httplib::Response& res) {
    SaveProject(state, req, res);
  });
  server.Post("/api/make", [&state](const httplib::Request& req, httplib::Response& res) {
    Make(state, req, res);
  });
  server.Post("/api/cancel", [&state](const httplib::Request&, httplib::Response& res) {
    state.job.Cancel();
    AnswerJson(res, 200, Json::object());
  });
  server.Get("/api/status", [&state](const httplib::Request&, httplib::Response& res) {
    AnswerJson(res, 200, state.job.Status());
  });
  AddWatchRoutes(server, state);
}

}  // namespace trackloom::cli::studio
