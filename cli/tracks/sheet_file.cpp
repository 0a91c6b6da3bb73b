#include "cli/tracks/sheet_file.h"

#include <memory>

#include "cli/common/messages.h"
#include "cli/common/platform.h"
#include "cli/tracks/track_reader.h"

namespace trackloom::cli {

namespace {

// A sheet is a few lines a track; anything far larger is not one.
constexpr uint64_t kMaxSheetBytes = 1 << 20;

std::string Directory(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

}  // namespace

std::string Quoted(const std::string& name) { return "'" + Printable(name) + "'"; }

bool ReadSheetLines(const std::string& sheet, std::vector<std::string>* lines, std::string* error) {
  // FileSource opens without waiting for a FIFO's writer and takes regular files only.
  std::unique_ptr<FileSource> file = FileSource::Open(sheet, error);
  if (file == nullptr) {
    *error = "cannot open " + Quoted(sheet) + ": " + *error;
    return false;
  }
  if (file->Size() > kMaxSheetBytes) {
    *error = Quoted(sheet) + " is too large to be a cue sheet or TOC";
    return false;
  }
  std::string text(static_cast<size_t>(file->Size()), '\0');
  if (!file->ReadAt(0, reinterpret_cast<uint8_t*>(text.data()), text.size())) {
    *error = "cannot read " + Quoted(sheet);
    return false;
  }
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) text.erase(0, 3);  // a UTF-8 mark
  lines->clear();
  for (size_t start = 0; start < text.size();) {
    const size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      lines->push_back(text.substr(start));
      break;
    }
    lines->push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return true;
}

std::string ResolveSheetName(const std::string& sheet, const std::string& name) {
  if (!name.empty() && name[0] == '/') return name;
  const std::string direct = Directory(sheet) + name;
  struct stat info = {};
  if (::stat(direct.c_str(), &info) == 0) return direct;
  const size_t cut = name.find_last_of("/\\");
  if (cut == std::string::npos) return direct;
  return Directory(sheet) + name.substr(cut + 1);
}

}  // namespace trackloom::cli
