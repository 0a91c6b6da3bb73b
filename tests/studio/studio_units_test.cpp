// The studio's own checks on their own: the names and paths the page sends, and the
// JSON it sends them in.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

#include "cli/studio/child_process.h"
#include "cli/studio/file_access.h"
#include "cli/studio/preview_proxy.h"
#include "cli/studio/project_check.h"
#include "cli/studio/rip_job.h"
#include "cli/studio/studio_json.h"
#include "cli/studio/watch_renders.h"
#include "cli/studio/still_preview.h"
#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {


TEST(StudioNames, UploadNamesKeepOnlyTheirLastSafePart) {
  const struct {
    const char* sent;
    const char* kept;
  } rows[] = {
      {"clip.mp4", "clip.mp4"},
      {"../../clip.mp4", "clip.mp4"},
      {"C:\\Users\\x\\clip.mp4", "clip.mp4"},
      {"dir\\clip.mp4", "clip.mp4"},
      {".hidden.mp4", "hidden.mp4"},
      {"..", ""},
      {"", ""},
      {"a\nb.mp4", "ab.mp4"},
      {"holiday 2024 (1).mkv", "holiday 2024 (1).mkv"},
      {"Title: Part 1.mp4", "Title- Part 1.mp4"},
      {"what?*.mkv", "what--.mkv"},
      {"clip\u202Egnp.mp4", "clipgnp.mp4"},
      {"\u2067\u200Fname\u2069.mov", "name.mov"},
      {"caf\u00e9.mp4", "caf\u00e9.mp4"},
  };
  for (const auto& row : rows) EXPECT_EQ(cli::studio::SafeUploadName(row.sent), row.kept) << row.sent;
  // A name too long for the file system is cut, not refused, its ending kept and no
  // character cut in half.
  std::string accents;
  for (int i = 0; i < 150; ++i) accents += "\xc3\xa9";
  const std::string kept = cli::studio::SafeUploadName(accents + ".mp4");
  EXPECT_EQ(kept, accents.substr(0, 196) + ".mp4");
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
    EXPECT_EQ(cli::studio::IsInsideFolder(dir.File("project"), dir.File(row.path)), row.inside) << row.path;
}

// Links placed in a project after it was saved (a folder unpacked from someone else)
// are never written through: the disc's folders, and the project file's own name.
TEST(StudioNames, WritesNeverGoThroughALinkInTheProject) {
  namespace fs = std::filesystem;
  TempDir dir;
  fs::create_directories(dir.File("project/real"));
  fs::create_directories(dir.File("outside"));
  fs::create_directory_symlink(dir.File("outside"), dir.File("project/linked"));
  fs::create_directories(dir.File("project/disc"));
  fs::create_directory_symlink(dir.File("outside"), dir.File("project/disc/disc-tracks"));
  std::ofstream(dir.File("project/plain")) << "a file";
  const struct {
    const char* folder;
    bool made;
    const char* why;
  } rows[] = {
      {"project/real/new/deeper", true, ""},
      {"project/linked", false, "is a link to another place"},
      {"project/linked/new", false, "is a link to another place"},
      {"project/disc/disc-tracks/video-01", false, "project/disc/disc-tracks' is a link"},
      {"project/plain/new", false, "is a link to another place (or not a folder)"},
      {"outside/new", false, "is not inside the project folder"},
      {"project/../outside/new", false, "is not inside the project folder"},
  };
  for (const auto& row : rows) {
    std::string why;
    EXPECT_EQ(cli::studio::MakeFolderInside(dir.File("project"), dir.File(row.folder), &why), row.made)
        << row.folder;
    EXPECT_NE(why.find(row.why), std::string::npos) << row.folder << ": " << why;
  }
  EXPECT_TRUE(fs::is_directory(dir.File("project/real/new/deeper")));
  EXPECT_TRUE(fs::is_empty(dir.File("outside")));

  // A link at the project file's name is replaced, its target left as it was.
  std::ofstream(dir.File("outside/victim")) << "keep";
  fs::create_symlink(dir.File("outside/victim"), dir.File("project/trackloom-project.json"));
  ASSERT_TRUE(cli::studio::WriteFileWhole(dir.File("project/trackloom-project.json"), "{}\n"));
  auto text = [](const std::string& path) {
    const std::vector<uint8_t> bytes = ReadFileBytes(path);
    return std::string(bytes.begin(), bytes.end());
  };
  EXPECT_EQ(text(dir.File("outside/victim")), "keep");
  EXPECT_FALSE(fs::is_symlink(dir.File("project/trackloom-project.json")));
  EXPECT_EQ(text(dir.File("project/trackloom-project.json")), "{}\n");
  EXPECT_EQ(ListDirectory(dir.File("project")).size(), 5u);  // no temporary file left
}

TEST(StudioProject, FieldsOfTheWrongKindAreLeftOutAndNamed) {
  const struct {
    const char* project;
    const char* readable;
    const char* first_dropped;
  } rows[] = {
      {R"({"name":"film","videos":[{"path":"/a.mp4","fit":"crop"}],"x":1})",
       R"({"name":"film","videos":[{"path":"/a.mp4","fit":"crop"}],"x":1})", ""},
      {R"({"videos":"nope","name":"film"})", R"({"name":"film"})", "videos (must be a list)"},
      {R"({"capacity":"80","split":1})", R"({})", "capacity (must be a number)"},
      {R"({"videos":[3,{"fit":"crop"},{"path":"/b.mp4","at":5}]})", R"({"videos":[{"path":"/b.mp4"}]})",
       "video 1: left out (it names no file)"},
      {R"([1,2])", R"({})", "everything (the project must be an object)"},
  };
  for (const auto& row : rows) {
    std::vector<std::string> dropped;
    const cli::studio::Json readable = cli::studio::ReadableProject(*cli::studio::ParseJson(row.project), &dropped);
    EXPECT_EQ(cli::studio::WriteJson(readable), row.readable) << row.project;
    EXPECT_EQ(dropped.empty() ? "" : dropped.front(), row.first_dropped) << row.project;
    EXPECT_EQ(cli::studio::MistypedField(*cli::studio::ParseJson(row.project)), row.first_dropped);
  }
}

// A value the commands would refuse after a long encode is refused when it is entered.
TEST(StudioProject, ValuesTheCommandsWouldRefuseAreNamedWithTheirField) {
  const std::string long_name(250, 'a');
  TempDir dir;
  // A WAV of one channel, as a sound program might save one: no first track.
  const std::string mono = dir.File("mono.wav");
  Ffmpeg({"-f", "lavfi", "-i", "sine=duration=1", "-ac", "1", mono});
  std::ofstream(dir.File("song.mp3")) << "ID3";
  const struct {
    std::string project;
    const char* field;
    const char* words;
  } rows[] = {
      {R"({"name":"film","videos":[{"path":"/a.mp4","breaks":"every","every":"10:00"}]})", "", ""},
      {R"({"name":"my \"film\""})", "name", "cannot hold quotes"},
      {R"({"name":"two\nlines"})", "name", "line breaks"},
      {R"({"name":")" + long_name + R"("})", "name", "too long"},
      {R"({"name":"a/b"})", "name", "cannot hold '/'"},
      {R"({"videos":[{"path":"/a.mp4"},{"path":"/b.mp4","breaks":"every","every":"ten minutes"}]})",
       "video 2: every", "'ten minutes' is not a time"},
      {R"({"videos":[{"path":"/a.mp4","breaks":"at","at":"1:30,abc"}]})", "video 1: at",
       "'abc' is not a time"},
      {R"({"videos":[{"path":"/a.mp4","breaks":"every","every":""}]})", "video 1: every",
       "needs a time"},
      {R"({"first":")" + mono + R"("})", "first", "is not CD audio"},
      {R"({"first":")" + dir.File("song.mp3") + R"("})", "first", "is not a WAV file"},
      {R"({"first":")" + dir.File("gone.wav") + R"("})", "first", "cannot open"},
  };
  for (const auto& row : rows) {
    const cli::studio::ValueProblem bad = cli::studio::FirstBadValue(*cli::studio::ParseJson(row.project));
    EXPECT_EQ(bad.field, row.field) << row.project;
    EXPECT_NE(bad.message.find(row.words), std::string::npos) << row.project << ": " << bad.message;
  }
}

TEST(StudioJson, ParsesWhatThePageSendsAndRefusesTheRest) {
  const struct {
    const char* text;
    bool valid;
    const char* written;  // as written back
  } rows[] = {
      {"{\"b\": \"x\\n\\u00e9\", \"a\": [1, 2.5, true, null]}", true,
       "{\"b\":\"x\\n\xc3\xa9\",\"a\":[1,2.5,true,null]}"},
      {"  [] ", true, "[]"},
      {"\"\\ud83d\\ude00\"", true, "\"\xf0\x9f\x98\x80\""},
      {"{\"a\": 1,}", false, ""},
      {"[1 2]", false, ""},
      {"\"unterminated", false, ""},
      {"{} extra", false, ""},
      {"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]]", false, ""},
      {"[\"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\"]", true, "[\"[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[[\"]"},
      {"nan", false, ""},
      {"0x10", false, ""},
      {"+1", false, ""},
      {"\"a\xff\"", false, ""},
  };
  for (const auto& row : rows) {
    const std::optional<cli::studio::Json> v = cli::studio::ParseJson(row.text);
    ASSERT_EQ(v.has_value(), row.valid) << row.text;
    if (v) {
      EXPECT_EQ(cli::studio::WriteJson(*v), row.written) << row.text;
    }
  }
  // A name that is not UTF-8 is written with U+FFFD in place of its stray byte.
  EXPECT_EQ(cli::studio::WriteJson(cli::studio::Json{{"path", "/tmp/a\xff.mp4"}}),
            "{\"path\":\"/tmp/a\xef\xbf\xbd.mp4\"}");
}

}  // namespace
}  // namespace trackloom::testing

namespace trackloom::testing {
namespace {

// The preview at a time shows the very record the player shows then: the stored
// pixels beside the panel match the encode's record floor(t x 18), wherever the key
// frames fall and whatever the input's rate: read from the video at once, and from
// the pictures the background pass keeps.
TEST(StudioPreview, ShowsTheRecordThePlayerShowsAtThatTime) {
  TempDir dir;
  cli::studio::PreviewProxies proxies(dir.path());
  using Pass = cli::studio::ProxyProgress::State;
  const struct {
    const char* rate;
    const char* key_frames;  // every this many frames
    double seconds;
  } rows[] = {
      {"25", "50", 1.0},          {"25", "50", 5.55},         {"25", "50", 7.999},
      {"30000/1001", "37", 7.05}, {"30000/1001", "37", 3.33}, {"30000/1001", "37", 10.33},
      {"30000/1001", "37", 4.25}, {"30000/1001", "37", 8.58}, {"30000/1001", "37", 9.888},
      {"24", "300", 9.6},
  };
  for (const auto& row : rows) {
    const std::string clip = dir.File(std::string("clip-") + row.key_frames + ".mp4");
    const std::string tracks = clip + "-tracks";
    if (!FileExists(clip)) {
      Ffmpeg({"-f", "lavfi", "-i",
              std::string("testsrc2=size=640x360:duration=12:rate=") + row.rate, "-c:v", "libx264",
              "-preset", "veryfast", "-g", row.key_frames, clip});
      const CommandResult r =
          RunTrackloom({"encode", clip, "-o", tracks, "--fit", "letterbox", "--no-audio", "-q"});
      ASSERT_EQ(r.status, 0) << r.err;
    }
    const Track track = ReadTrack(tracks + "/" + TrackFileName(1));
    cli::ffmpeg::PictureOptions options;
    options.fit_given = true;
    // The preview read from the video at once, and the one from the background pass.
    proxies.Want(clip, options, true);
    for (int i = 0; i < 600 && proxies.Progress(clip, options).state != Pass::kReady; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const std::optional<cli::studio::ProxyPicture> passed = proxies.Picture(clip, options, row.seconds);
    ASSERT_TRUE(passed.has_value()) << clip;
    const cli::studio::StillPreview views[] = {
        cli::studio::RenderStillPreview(clip, options, row.seconds),
        cli::studio::ComposePreview(passed->record, passed->shown_seconds)};
    const auto record = static_cast<size_t>(row.seconds * 18);
    const std::vector<uint8_t> stored = track.PictureNibbles(record);
    for (const cli::studio::StillPreview& shown : views) {
      // The stored pixels are the right-hand view, 3 screen pixels a pixel across.
      const int left = shown.width - 3 * 144;
      int differing = 0;
      for (int y = 0; y < 80; ++y) {
        for (int x = 0; x < 144; ++x) {
          const int sy = (2 * y + 1) * shown.height / 160;
          const size_t at = 3 * static_cast<size_t>(sy * shown.width + left + 3 * x + 1);
          for (int c = 0; c < 3; ++c)
            differing += shown.rgb[at + c] != levels::ShownValue(levels::kStandardRamp[stored[3 * static_cast<size_t>(y * 144 + x) + c]]);
        }
      }
      EXPECT_EQ(differing, 0) << row.rate << " fps, key frame every " << row.key_frames << ", at "
                              << row.seconds << " s (record " << record << "), "
                              << (&shown == views ? "read at once" : "from the pass");
    }
  }
}

}  // namespace
// A rip's end as the page tells it, from what rip --json printed: a source cut short
// still leaves its video, which is done, with what was missing said.
TEST(StudioRip, AFinishedRipIsToldFromItsJson) {
  const std::string chapters =
      R"("chapters":[{"track":2,"seconds":6.5,"damaged_records":0},)"
      R"({"track":3,"seconds":6.5,"damaged_records":2}])";
  const struct {
    int status;
    std::string output;
    bool done;
    std::string summary;  // a line of it; empty: no summary
  } rows[] = {
      {0, R"({"files":["d.mkv"],"read_through":"libcdio",)" + chapters +
              R"(,"cut_short":[],"read_errors":0})",
       true, "Wrote d.mkv: 2 chapters, 0:13.0 of video (read through libcdio)\n"},
      {0, R"({"files":["d.mkv"],)" + chapters + R"(,"cut_short":[],"read_errors":0})", true,
       "Track 03: 2 damaged records, shown as the picture before.\n"},
      {1, R"({"files":["d.mkv"],)" + chapters + R"(,"cut_short":[{"track":4,"bytes":0}]})", true,
       "The source ends early (track 4 missing): the video holds what there was.\n"},
      {1, R"({"files":[],"chapters":[],"cut_short":[{"track":2,"bytes":5}]})", false, ""},
      {1, "", false, ""},
      {130, R"({"files":[],"chapters":[],"cut_short":[]})", false, ""},
  };
  for (const auto& row : rows) {
    const cli::studio::RipOutcome outcome = cli::studio::ReadRipOutcome(row.status, row.output);
    EXPECT_EQ(outcome.done, row.done) << row.output;
    if (row.done) {
      EXPECT_NE(outcome.summary.find(row.summary), std::string::npos) << outcome.summary;
    }
  }
}

// Watch's renders, each track's decode a shell script standing for it: its progress
// and its failure reach the page, a cancelled one says so at once, and the next start
// of a track begins it again unless it is being made or is ready.
TEST(StudioWatch, RendersEndMadeFailedOrCancelledAndStartAgain) {
  using cli::studio::NumberOf;
  using cli::studio::TextOf;
  TempDir dir;
  cli::studio::WatchRenders renders(
      [](const std::string& script, const std::string& video, const std::string& log) {
        return cli::studio::ChildProcess::Start({"/bin/sh", "-c", script, "sh", video},
                                                log + ".out", log + ".err");
      });
  renders.set_folder(dir.path());
  const struct {
    std::string script;  // $1: the video
    bool cancel;
    std::string state;
    std::string message;  // also what Wait tells of a video not made
    int64_t done, total;  // -2: whatever the moment of the cancel left
  } rows[] = {
      {R"(echo '3 4' >&3; : >"$1")", false, "ready", "", 4, 4},
      {R"(: >"$1"; echo '1 8' >&3; echo 'track 1: no such file' >&2; exit 1)", false, "failed",
       "track 1: no such file", 1, 8},
      {"exit 3", false, "failed", "The track could not be made into a video.", 0, -1},
      {"echo '2 9' >&3; exec sleep 600", true, "cancelled", "", -2, -2},
  };
  int index = 0;
  for (const auto& row : rows) {
    ++index;
    EXPECT_EQ(TextOf(renders.Start(index, row.script), "state"), "making") << row.script;
    if (row.cancel) renders.Cancel(index);
    std::string why;
    const std::filesystem::path video = renders.Wait(index, &why);
    const cli::studio::Json status = renders.Status(index);
    EXPECT_EQ(TextOf(status, "state"), row.state) << row.script;
    EXPECT_EQ(TextOf(status, "message"), row.message) << row.script;
    if (row.done != -2) {
      EXPECT_EQ(NumberOf(status, "done"), row.done) << row.script;
      EXPECT_EQ(NumberOf(status, "total"), row.total) << row.script;
    }
    EXPECT_EQ(!video.empty() && FileExists(video.string()), row.state == "ready") << row.script;
    EXPECT_EQ(why, row.cancel ? "Stopped." : row.message) << row.script;
    EXPECT_EQ(TextOf(renders.Start(index, row.script), "state"),
              row.state == "ready" ? "ready" : "making")
        << row.script;
  }
}

}  // namespace trackloom::testing
