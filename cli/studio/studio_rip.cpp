// The page's "Keep your discs": a disc image the user picked, or the CD drive, ripped
// into the project folder.
#include <httplib.h>

#include <filesystem>

#include "cli/cdio/cd_reader.h"
#include "cli/studio/file_access.h"
#include "cli/studio/studio_state.h"

namespace trackloom::cli::studio {
namespace {

namespace fs = std::filesystem;

// "Cartoon.mkv" in the folder, or "Cartoon (2).mkv", ... when that is taken.
fs::path FreeVideoName(const fs::path& folder, const std::string& stem, const std::string& ext) {
  fs::path candidate = folder / (stem + ext);
  std::error_code ec;
  for (int n = 2; fs::exists(candidate, ec) || fs::is_symlink(candidate, ec); ++n)
    candidate = folder / (stem + " (" + std::to_string(n) + ")" + ext);
  return candidate;
}

void StartRip(StudioState& state, const httplib::Request& req, httplib::Response& res) {
  const std::optional<Json> body = ParseJson(req.body);
  if (!body) return AnswerError(res, 400, "The request was not understood.");
  const std::string source = TextOf(*body, "source");
  const std::string format = TextOf(*body, "format", "mkv");
  // Only what the user chose: an image picked in the page, or a CD drive.
  if (source.empty() ||
      !((state.grants.Granted(source) && IsRegularFile(source)) || cdio::IsOpticalDrive(source)))
    return AnswerError(res, 403,
                       "Choose a disc image in the picker, or give the CD drive (/dev/sr0): no "
                       "other device is read.");
  if (format != "mkv" && format != "mp4") return AnswerError(res, 400, "Keep it as .mkv or .mp4.");
  const std::string stem = cdio::IsOpticalDrive(source) ? "disc" : fs::path(source).stem().string();
  const fs::path output = FreeVideoName(state.folder, stem, "." + format);
  const fs::path logs = state.cache / "rip";
  if (!state.rip.Start(source, output.string(), logs.string()))
    return AnswerError(res, 409, "A disc is being ripped already.");
  state.grants.Grant(output);
  AnswerJson(res, 200, state.rip.Status());
}

}  // namespace

void AddRipRoutes(httplib::Server& server, StudioState& state) {
  server.Post("/api/rip", [&state](const httplib::Request& req, httplib::Response& res) {
    StartRip(state, req, res);
  });
  server.Get("/api/rip", [&state](const httplib::Request&, httplib::Response& res) {
    AnswerJson(res, 200, state.rip.Status());
  });
  server.Post("/api/rip/cancel", [&state](const httplib::Request&, httplib::Response& res) {
    state.rip.Cancel();
    AnswerJson(res, 200, state.rip.Status());
  });
}

}  // namespace trackloom::cli::studio
