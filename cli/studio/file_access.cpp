#include "cli/studio/file_access.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <system_error>
#include <utility>

#include "cli/common/cli_error.h"
#include "cli/common/platform.h"
#include "cli/common/temp_file.h"
#include "cli/common/unique_fd.h"

namespace trackloom::cli::studio {

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

bool MakeFolderInside(const fs::path& project, const fs::path& folder, std::string* why) {
  const fs::path relative = folder.lexically_normal().lexically_relative(project);
  if (relative.empty() || *relative.begin() == "..") {
    *why = "'" + folder.string() + "' is not inside the project folder";
    return false;
  }
  UniqueFd at(OpenDescriptor(project.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!at) {
    *why = "cannot open the project folder: " + std::string(std::strerror(errno));
    return false;
  }
  fs::path walked = project;
  for (const fs::path& part : relative) {
    if (part == ".") continue;
    walked /= part;
    if (::mkdirat(at.get(), part.c_str(), 0755) != 0 && errno != EEXIST) {
      *why = "cannot make the folder '" + walked.string() + "': " + std::strerror(errno);
      return false;
    }
    UniqueFd next(
        ::openat(at.get(), part.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!next) {
      *why = errno == ELOOP || errno == ENOTDIR
                 ? "'" + walked.string() +
                       "' is a link to another place (or not a folder): the studio writes only "
                       "inside the project folder; remove it or choose another folder"
                 : "cannot open the folder '" + walked.string() + "': " + std::strerror(errno);
      return false;
    }
    at = std::move(next);
  }
  return true;
}

bool WriteFileWhole(const fs::path& path, const std::string& text) {
  try {
    TempFile part;
    part.Create(path.parent_path().string(), "." + path.filename().string() + ".", ".part");
    UniqueFd fd(OpenDescriptor(part.path().c_str(), O_WRONLY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd || !WriteAll(fd.get(), text.data(), text.size()) || ::fsync(fd.get()) != 0 ||
        !fd.Close())
      return false;
    part.Keep(path.string());
    return true;
  } catch (const CliError&) {
    return false;
  }
}

bool IsRegularFile(const std::string& path) {
  struct stat info = {};
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

namespace {

// Bidirectional controls (U+061C, U+200E-F, U+202A-E, U+2066-9) make a name read
// otherwise than it is ("clip\u202Evom.exe" shows as "clipexe.mov"): at text[i], the
// length of one, or 0.
size_t BidiControlAt(const std::string& text, size_t i) {
  const auto b = [&](size_t k) {
    return i + k < text.size() ? static_cast<uint8_t>(text[i + k]) : 0;
  };
  if (b(0) == 0xD8 && b(1) == 0x9C) return 2;
  if (b(0) != 0xE2) return 0;
  if (b(1) == 0x80 && (b(2) == 0x8E || b(2) == 0x8F || (b(2) >= 0xAA && b(2) <= 0xAE))) return 3;
  if (b(1) == 0x81 && b(2) >= 0xA6 && b(2) <= 0xA9) return 3;
  return 0;
}

// The longest prefix of text of at most limit bytes that does not end inside a UTF-8
// sequence.
std::string CutUtf8(const std::string& text, size_t limit) {
  if (text.size() <= limit) return text;
  size_t end = limit;
  while (end > 0 && (static_cast<uint8_t>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

}  // namespace

std::string SafeUploadName(const std::string& name) {
  constexpr size_t kLongest = 200;
  const size_t slash = name.find_last_of("/\\");
  const std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
  std::string safe;
  for (size_t i = 0; i < base.size();) {
    const auto c = static_cast<unsigned char>(base[i]);
    if (const size_t bidi = BidiControlAt(base, i); bidi > 0) {
      i += bidi;
      continue;
    }
    ++i;
    if (c < 0x20 || c == 0x7F) continue;
    // What Windows cannot hold in a name, should the project travel there.
    safe += std::string_view("<>:\"|?*").find(static_cast<char>(c)) == std::string_view::npos
                ? static_cast<char>(c)
                : '-';
  }
  // No hidden file, and no name of dots only.
  safe.erase(0, std::min(safe.find_first_not_of(". "), safe.size()));
  if (safe.size() > kLongest) {
    const size_t dot = safe.rfind('.');
    const std::string ending =
        dot != std::string::npos && safe.size() - dot <= 8 ? safe.substr(dot) : "";
    safe = CutUtf8(safe.substr(0, safe.size() - ending.size()), kLongest - ending.size()) + ending;
  }
  return safe;
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

}  // namespace trackloom::cli::studio
