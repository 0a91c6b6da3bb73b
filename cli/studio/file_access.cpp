#include "cli/studio/file_access.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <system_error>

#include "cli/common/platform.h"

namespace trackloom::cli {

namespace fs = std::filesystem;

namespace {

fs::path Resolved(const fs::path& path) {
  // The system reads a name up to its first NUL: "/etc/passwd\0.mp4" would be judged
  // by its whole text and opened as /etc/passwd.
  if (path.empty() || HasNul(path.native())) return {};
  std::error_code ec;
  fs::path resolved = fs::weakly_canonical(fs::absolute(path, ec), ec);
  return ec ? fs::path() : resolved;
}

bool Within(const fs::path& folder, const fs::path& path) {
  if (folder.empty() || path.empty()) return false;
  auto f = folder.begin();
  auto p = path.begin();
  for (; f != folder.end(); ++f, ++p) {
    if (f->empty()) continue;  // a trailing separator
    if (p == path.end() || *f != *p) return false;
  }
  return true;
}

}  // namespace

bool IsInsideFolder(const fs::path& folder, const fs::path& path) {
  return Within(Resolved(folder), Resolved(path));
}

bool HasNul(const std::string& text) { return text.find('\0') != std::string::npos; }

bool IsRegularFile(const std::string& path) {
  struct stat info {};
  return !HasNul(path) && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool IsMediaName(const std::string& name) {
  if (HasNul(name)) return false;
  static constexpr std::array<const char*, 32> kEndings = {
      ".mp4", ".m4v", ".mkv",  ".webm", ".avi",  ".mov", ".mpg", ".mpeg", ".ts",  ".m2ts", ".wmv",
      ".flv", ".ogv", ".3gp",  ".vob",  ".dv",   ".png", ".jpg", ".jpeg", ".bmp", ".gif",  ".webp",
      ".wav", ".mp3", ".flac", ".ogg",  ".opus", ".m4a", ".aac", ".wma",  ".cue", ".toc"};
  std::string lower = name;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return std::any_of(kEndings.begin(), kEndings.end(), [&](const char* e) {
    const std::string ending = e;
    return lower.size() > ending.size() &&
           lower.compare(lower.size() - ending.size(), ending.size(), ending) == 0;
  });
}

std::string SafeUploadName(const std::string& name) {
  const size_t slash = name.find_last_of("/\\");
  std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  if (base.empty() || base[0] == '.' || base.size() > 200) return "";
  for (const char c : base) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == ':') return "";
  }
  return base;
}

void FileGrants::Grant(const fs::path& path) {
  const fs::path resolved = Resolved(path);
  if (resolved.empty()) return;
  std::lock_guard lock(mutex_);
  files_.insert(resolved);
}

void FileGrants::GrantFolder(const fs::path& folder) {
  const fs::path resolved = Resolved(folder);
  if (resolved.empty()) return;
  std::lock_guard lock(mutex_);
  folders_.insert(resolved);
}

bool FileGrants::Granted(const fs::path& path) const {
  const fs::path resolved = Resolved(path);
  if (resolved.empty()) return false;
  std::lock_guard lock(mutex_);
  if (files_.count(resolved) > 0) return true;
  return std::any_of(folders_.begin(), folders_.end(),
                     [&](const fs::path& f) { return Within(f, resolved); });
}

}  // namespace trackloom::cli
