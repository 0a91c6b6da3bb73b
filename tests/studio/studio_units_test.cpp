// The studio's own checks on their own: the names and paths the page sends, and the
// JSON it sends them in.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "cli/studio/file_access.h"
#include "cli/studio/json_value.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

using cli::JsonValue;

TEST(StudioNames, UploadNamesKeepOnlyTheirLastSafePart) {
  const struct {
    const char* sent;
    const char* kept;
  } rows[] = {
      {"clip.mp4", "clip.mp4"},
      {"../../clip.mp4", "clip.mp4"},
      {"C:\\Users\\x\\clip.mp4", "clip.mp4"},
      {"dir\\clip.mp4", "clip.mp4"},
      {".hidden.mp4", ""},
      {"..", ""},
      {"", ""},
      {"a\nb.mp4", ""},
      {"holiday 2024 (1).mkv", "holiday 2024 (1).mkv"},
  };
  for (const auto& row : rows) EXPECT_EQ(cli::SafeUploadName(row.sent), row.kept) << row.sent;
}

TEST(StudioNames, OnlyPathsResolvedIntoTheFolderAreInside) {
  TempDir dir;
  std::filesystem::create_directories(dir.File("project/sub"));
  std::filesystem::create_directories(dir.File("projectile"));
  std::filesystem::create_directory_symlink(dir.File("projectile"), dir.File("project/link"));
  const struct {
    const char* path;
    bool inside;
  } rows[] = {
      {"project/sub/a.mp4", true},
      {"project/new/deeper/b.mp4", true},
      {"project/../projectile/a.mp4", false},
      {"projectile/a.mp4", false},
      {"project/link/a.mp4", false},
      {"project/sub/../../x", false},
      {"project", true},
  };
  for (const auto& row : rows)
    EXPECT_EQ(cli::IsInsideFolder(dir.File("project"), dir.File(row.path)), row.inside) << row.path;
}

TEST(StudioJson, ParsesWhatThePageSendsAndRefusesTheRest) {
  const struct {
    const char* text;
    bool valid;
    const char* written;  // as written back
  } rows[] = {
      {"{\"a\": [1, 2.5, true, null], \"b\": \"x\\n\\u00e9\"}", true,
       "{\"a\":[1,2.5,true,null],\"b\":\"x\\u000a\xc3\xa9\"}"},
      {"  [] ", true, "[]"},
      {"\"\\ud83d\\ude00\"", true, "\"\xf0\x9f\x98\x80\""},
      {"{\"a\": 1,}", false, ""},
      {"[1 2]", false, ""},
      {"\"unterminated", false, ""},
      {"{} extra", false, ""},
      {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", false, ""},
      {"nan", false, ""},
  };
  for (const auto& row : rows) {
    const std::optional<JsonValue> v = JsonValue::Parse(row.text);
    ASSERT_EQ(v.has_value(), row.valid) << row.text;
    if (v) {
      EXPECT_EQ(v->Write(), row.written) << row.text;
    }
  }
}

}  // namespace
}  // namespace trackloom::testing
