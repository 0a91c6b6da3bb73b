#include "cli/studio/project_check.h"

#include <cctype>
#include <sstream>

#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/tracks/disc_plan.h"

namespace trackloom::cli::studio {

namespace {

enum class Kind { kText, kNumber, kFlag, kList };

struct Field {
  const char* name;
  Kind kind;
};

constexpr Field kProjectFields[] = {{"name", Kind::kText},   {"first", Kind::kText},
                                    {"output", Kind::kText}, {"capacity", Kind::kNumber},
                                    {"split", Kind::kFlag},  {"videos", Kind::kList}};
constexpr Field kVideoFields[] = {{"path", Kind::kText},   {"fit", Kind::kText},
                                  {"breaks", Kind::kText}, {"every", Kind::kText},
                                  {"at", Kind::kText},     {"loudness", Kind::kText},
                                  {"levels", Kind::kText}, {"audio", Kind::kText}};

bool Is(const Json& value, Kind kind) {
  switch (kind) {
    case Kind::kText:
      return value.is_string();
    case Kind::kNumber:
      return value.is_number();
    case Kind::kFlag:
      return value.is_boolean();
    case Kind::kList:
      return value.is_array();
  }
  return false;
}

const char* KindName(Kind kind) {
  switch (kind) {
    case Kind::kText:
      return "text";
    case Kind::kNumber:
      return "a number";
    case Kind::kFlag:
      return "true or false";
    case Kind::kList:
      return "a list";
  }
  return "";
}

// Drops the fields of object that are of the wrong kind; their names, after prefix,
// go to *dropped.
void DropMistyped(Json& object, const Field* fields, size_t count, const std::string& prefix,
                  std::vector<std::string>* dropped) {
  for (size_t i = 0; i < count; ++i) {
    const auto it = object.find(fields[i].name);
    if (it == object.end() || Is(*it, fields[i].kind)) continue;
    dropped->push_back(prefix + fields[i].name + " (must be " + KindName(fields[i].kind) + ")");
    object.erase(it);
  }
}

}  // namespace

Json ReadableProject(const Json& project, std::vector<std::string>* dropped) {
  if (!project.is_object()) {
    dropped->push_back("everything (the project must be an object)");
    return Json::object();
  }
  Json readable = project;
  DropMistyped(readable, kProjectFields, std::size(kProjectFields), "", dropped);
  auto videos = readable.find("videos");
  if (videos == readable.end()) return readable;
  Json kept = Json::array();
  for (size_t i = 0; i < videos->size(); ++i) {
    Json video = (*videos)[i];
    const std::string prefix = "video " + std::to_string(i + 1) + ": ";
    if (!video.is_object() || !video.contains("path") || !video["path"].is_string()) {
      dropped->push_back(prefix + "left out (it names no file)");
      continue;
    }
    DropMistyped(video, kVideoFields, std::size(kVideoFields), prefix, dropped);
    kept.push_back(std::move(video));
  }
  *videos = std::move(kept);
  return readable;
}

std::string MistypedField(const Json& project) {
  std::vector<std::string> dropped;
  ReadableProject(project, &dropped);
  return dropped.empty() ? "" : dropped.front();
}

namespace {

// The longest disc name: its folder of tracks ("NAME-tracks") and the image's
// temporary names must fit in a file name of 255 bytes.
constexpr size_t kLongestName = 200;

std::string NameProblem(const std::string& name) {
  if (name.empty()) return "";
  if (name.size() > kLongestName)
    return "The disc's name is too long: at most " + std::to_string(kLongestName) + " bytes.";
  if (name.find('/') != std::string::npos || name[0] == '.' || name[0] == '-')
    return "The disc's name cannot hold '/' nor begin with '.' or '-'.";
  if (!ImageNameProblem(name).empty())
    return "The disc's name cannot hold quotes, backslashes or line breaks (a disc's cue "
           "sheet cannot).";
  return "";
}

std::string TimesProblem(const std::string& what, const std::string& text, bool list) {
  if (text.empty()) return what + " needs a time, like 10:00.";
  std::stringstream items(text);
  for (std::string item; std::getline(items, item, ',');) {
    double seconds = 0;
    if (!ParseTime(item, seconds) || seconds < 1)
      return what + ": '" + item + "' is not a time like " + (list ? "1:30,3:05" : "10:00") + ".";
    if (!list) break;
  }
  return "";
}

std::string VideoProblem(const Json& video) {
  const std::string breaks = TextOf(video, "breaks", "none");
  if (breaks == "every") return TimesProblem("Break every", TextOf(video, "every"), false);
  if (breaks == "at") return TimesProblem("Break at", TextOf(video, "at"), true);
  return "";
}

}  // namespace

std::string FirstTrackProblem(const std::string& path) {
  if (path.empty()) return "";
  try {
    CheckFirstTrack(path);
    return "";
  } catch (const CliError& e) {
    std::string problem = e.what();
    if (!problem.empty()) problem[0] = static_cast<char>(std::toupper(problem[0]));
    return problem + ".";
  }
}

ValueProblem FirstBadValue(const Json& project) {
  if (std::string problem = NameProblem(TextOf(project, "name")); !problem.empty())
    return {"name", problem};
  if (std::string problem = FirstTrackProblem(TextOf(project, "first")); !problem.empty())
    return {"first", problem};
  const Json& videos = ItemsOf(project, "videos");
  for (size_t i = 0; i < videos.size(); ++i) {
    const std::string field = TextOf(videos[i], "breaks") == "at" ? "at" : "every";
    if (std::string problem = VideoProblem(videos[i]); !problem.empty())
      return {"video " + std::to_string(i + 1) + ": " + field, problem};
  }
  return {};
}

}  // namespace trackloom::cli::studio
