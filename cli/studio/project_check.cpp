#include "cli/studio/project_check.h"

namespace trackloom::cli {

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

}  // namespace trackloom::cli
