// What the studio's request handlers share: the project folder, the files the page
// may read, the disc being made, and the places the studio writes to.
#pragma once

#include <filesystem>
#include <functional>
#include <mutex>
#include <string>

#include "cli/studio/disc_job.h"
#include "cli/studio/file_access.h"
#include "cli/studio/preview_proxy.h"
#include "cli/studio/rip_job.h"
#include "cli/studio/watch_renders.h"

namespace httplib {
class Server;
struct Response;
}  // namespace httplib

namespace trackloom::cli::studio {

inline constexpr char kProjectFileName[] = "trackloom-project.json";

struct StudioState {
  std::filesystem::path folder;  // the project folder, resolved
  std::filesystem::path cache;   // previews and other passing files
  FileGrants grants;
  DiscJob job;
  RipJob rip;
  std::mutex project_mutex;    // the project file and the remembered first track
  std::string project_notice;  // what became of a damaged project file, until the page shows it
  WatchRenders watch;          // the videos Watch makes of the tracks
  std::unique_ptr<PreviewProxies> proxies;  // made with the cache, gone before it
  std::function<void()> quit;
};

// The output folder of a project: its "output" when that lies inside the project
// folder, else "disc" there.
std::filesystem::path OutputFolder(const StudioState& state, const Json& project);

// A JSON answer with its status; an error is {"message": ...}, in the page's words.
void AnswerJson(httplib::Response& res, int status, const Json& body);
void AnswerError(httplib::Response& res, int status, const std::string& message);

// Registers the handlers of each part of the page.
void AddFileRoutes(httplib::Server& server, StudioState& state);
void AddProjectRoutes(httplib::Server& server, StudioState& state);
void AddRipRoutes(httplib::Server& server, StudioState& state);

}  // namespace trackloom::cli::studio
