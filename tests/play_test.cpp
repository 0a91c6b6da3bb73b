// trackloom play as a user meets it: on a virtual X display (the test runs under
// scripts/with-xvfb), SDL's disk sound driver writing what would be heard to a file,
// keys pressed with xdotool, the window grabbed with FFmpeg's X11 capture.
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

constexpr int kScale = 2;
constexpr int kWindowWidth = 216 * kScale;  // the panel's dot grid at 4:3
constexpr int kWindowHeight = 162 * kScale;
constexpr size_t kFirstRecord = 2092;
constexpr size_t kRecordBytes = 19600;

std::string Trim(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == ' ')) s.pop_back();
  return s;
}

// A 144 x 80 clip of colour bars side by side, encoded by the command. Its sound is
// noise, which never repeats, so a piece of it tells where in the track it is.
std::string MakeTrack(const TempDir& dir, const std::string& name, const std::vector<std::string>& bars,
                      double seconds, int seed) {
  const std::string d = std::to_string(seconds);
  std::string graph;
  for (size_t i = 0; i < bars.size(); ++i) {
    graph += "color=" + bars[i] + ":size=" + std::to_string(144 / bars.size()) + "x80:rate=18:duration=" + d + "[b" +
             std::to_string(i) + "];";
  }
  for (size_t i = 0; i < bars.size(); ++i) graph += "[b" + std::to_string(i) + "]";
  graph += "hstack=" + std::to_string(bars.size());
  const std::string clip = dir.File(name + ".mkv");
  Ffmpeg({"-f", "lavfi", "-i", graph, "-f", "lavfi", "-i", "anoisesrc=amplitude=0.3:seed=" + std::to_string(seed) + ":duration=" + d,
          "-c:v", "ffv1", "-pix_fmt", "bgr0", "-c:a", "pcm_s16le", clip});
  const CommandResult r = RunTrackloom({"encode", clip, "-o", dir.File(name), "--quiet"});
  EXPECT_EQ(r.status, 0) << r.err;
  return dir.File(name) + "/" + TrackFileName(1);
}

std::vector<uint8_t> TrackSound(const Track& t) {
  std::vector<uint8_t> sound;
  for (size_t k = 0; k < t.records(); ++k) {
    const std::vector<uint8_t> s = t.Sound(k);
    sound.insert(sound.end(), s.begin(), s.end());
  }
  return sound;
}

std::string WindowOf(pid_t player) {
  const CommandResult r = RunCommand({"timeout", "30", "xdotool", "search", "--sync", "--onlyvisible", "--pid",
                                      std::to_string(TrackloomProcess(player)), "--name", "trackloom play"});
  return Trim(r.out.substr(0, r.out.find('\n')));
}

// Waits until the window title starts with prefix ("Track 2/2  0:01").
bool WaitForTitle(const std::string& window, const std::string& prefix, std::string* last) {
  for (int i = 0; i < 600; ++i) {
    *last = Trim(RunCommand({"xdotool", "getwindowname", window}).out);
    if (last->rfind(prefix, 0) == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return false;
}

void Press(const std::string& window, const std::string& key) {
  RunCommand({"xdotool", "windowfocus", "--sync", window});
  RunCommand({"xdotool", "key", key});
}

// The window's pixels, R G B, top row first.
std::vector<uint8_t> Grab(const TempDir& dir, const std::string& window) {
  const std::string shot = dir.File("shot.rgb");
  Ffmpeg({"-f", "x11grab", "-draw_mouse", "0", "-window_id", window, "-i", std::getenv("DISPLAY"), "-frames:v", "1",
          "-f", "rawvideo", "-pix_fmt", "rgb24", shot});
  return ReadFileBytes(shot);
}

// Dots of the panel that the window shows wrong: dot (x, y) is red, green or blue
// by (x + y % 2) % 3, lit at its component's level x 17 and dark in the other two.
// Each dot is sampled at its centre in the window, odd rows half a dot to the left.
int WrongDots(const std::vector<uint8_t>& shot, const std::vector<uint8_t>& nibbles, std::string* first) {
  if (shot.size() != static_cast<size_t>(kWindowWidth * kWindowHeight * 3)) {
    *first = "the window is not " + std::to_string(kWindowWidth) + " x " + std::to_string(kWindowHeight);
    return -1;
  }
  int wrong = 0;
  for (int y = 0; y < 160; ++y) {
    for (int x = 0; x < 216; ++x) {
      const int component = (x + y % 2) % 3;
      const bool right = y % 2 == 1 ? x % 3 == 2 : x % 3 != 0;
      const int column = 2 * (x / 3) + (right ? 1 : 0);
      const int level = nibbles[static_cast<size_t>(((y / 2) * 144 + column) * 3 + component)];
      const int sx = x * kScale + kScale / 2 - (y % 2) * (kScale / 2);  // odd rows half a dot left
      const int sy = (2 * y + 1) * kWindowHeight / 320;
      const uint8_t* p = &shot[static_cast<size_t>((sy * kWindowWidth + sx) * 3)];
      for (int c = 0; c < 3; ++c) {
        const int want = c == component ? level * 17 : 0;
        if (p[c] == want) continue;
        if (wrong++ == 0) {
          *first = "dot " + std::to_string(x) + "," + std::to_string(y) + " component " + std::to_string(c) +
                   " is " + std::to_string(p[c]) + ", expected " + std::to_string(want);
        }
      }
    }
  }
  return wrong;
}

struct Player {
  pid_t pid;
  std::string window;
};

// The window system and sound libraries SDL loads (D-Bus, X11, its drivers) keep
// allocations to the end of the process, some of them in libraries already unloaded by
// then, so a leak checker cannot tell them from the player's own; the player's code is
// checked under valgrind instead. Only the player's process is affected.
void NoLeakCheckInPlayer() {
  const char* options = std::getenv("ASAN_OPTIONS");
  const std::string value = std::string(options != nullptr ? options : "");
  if (value.find("detect_leaks=0") == std::string::npos) {
    setenv("ASAN_OPTIONS", (value.empty() ? "" : value + ":").append("detect_leaks=0").c_str(), 1);
  }
}

Player StartPlayer(const TempDir& dir, const std::vector<std::string>& tracks) {
  NoLeakCheckInPlayer();
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", dir.File("heard.raw").c_str(), 1);
  std::vector<std::string> args = {"play", "--scale", std::to_string(kScale)};
  args.insert(args.end(), tracks.begin(), tracks.end());
  const pid_t pid = StartTrackloom(args, dir.path());
  return {pid, WindowOf(pid)};
}

// What was heard, in order: each track from its start, the last one whole, the others
// (left with the right key) for at least a second; only silence before, between and
// after them.
void ExpectHeard(const std::vector<uint8_t>& heard, const std::vector<std::vector<uint8_t>>& sounds) {
  constexpr long kSecond = 35280;
  auto silent = [](auto from, auto to) { return std::all_of(from, to, [](uint8_t b) { return b == 0x80; }); };
  std::vector<std::vector<uint8_t>::const_iterator> starts;
  auto from = heard.begin();
  for (const std::vector<uint8_t>& sound : sounds) {
    const auto at = std::search(from, heard.end(), sound.begin(), sound.begin() + kSecond / 2);
    ASSERT_NE(at, heard.end()) << "track " << starts.size() + 1 << " was not heard from its start";
    starts.push_back(at);
    from = at + kSecond / 2;
  }
  EXPECT_TRUE(silent(heard.begin(), starts[0]));
  for (size_t i = 0; i < sounds.size(); ++i) {
    SCOPED_TRACE("track " + std::to_string(i + 1));
    const std::vector<uint8_t>& sound = sounds[i];
    auto end = i + 1 == sounds.size() ? heard.end() : starts[i + 1];
    while (end > starts[i] && end[-1] == 0x80) --end;
    const long length = end - starts[i];
    EXPECT_GE(length, i + 1 == sounds.size() ? static_cast<long>(sound.size()) - 1960 : kSecond);
    ASSERT_LE(length, static_cast<long>(sound.size()));
    EXPECT_TRUE(std::equal(starts[i], end, sound.begin())) << "not heard as the track holds it";
  }
}

TEST(Play, ShowsThePanelAndPlaysTheSoundOfEachTrackAndSkipsOnRight) {
  TempDir dir;
  const std::string first = MakeTrack(dir, "bars", {"red", "lime", "blue", "white"}, 4, 1);
  const std::string made = MakeTrack(dir, "yellow", {"yellow", "black", "magenta"}, 4, 2);
  // The second track as another encoder writes it: a 392-byte lead-in, and record 5
  // damaged (its header broken), which must play as silence.
  const Track t3 = ReadTrack(made);
  std::vector<uint8_t> other(t3.bytes.begin(), t3.bytes.begin() + 44);
  other.resize(44 + 392, 0);
  other.insert(other.end(), t3.bytes.begin() + kFirstRecord, t3.bytes.end());
  other[44 + 392 + 5 * kRecordBytes] ^= 0xFF;
  const std::string second = dir.File("other.wav");
  WriteFileBytes(second, other);
  // Then a disc image of the made track and the first one, with an end track of
  // silence (it holds no record, so it is not played).
  const std::string silence = dir.File("silence.wav");
  WriteFileBytes(silence, MakeWav(44100, 16, 2, std::vector<uint8_t>(2352, 0)));
  const CommandResult disc = RunTrackloom(
      {"disc", "-o", dir.File("disc"), "--first", made, "--last", silence, "--no-pad", "--quiet", first});
  ASSERT_EQ(disc.status, 0) << disc.err;

  const Track t1 = ReadTrack(first);
  ASSERT_GE(t1.records(), 40u);
  std::vector<uint8_t> sound2 = TrackSound(t3);
  std::fill_n(sound2.begin() + 5 * 1960, 1960, 0x80);

  const Player player = StartPlayer(dir, {first, second, dir.File("disc.cue")});
  ASSERT_FALSE(player.window.empty()) << "no player window";
  std::string title;
  ASSERT_TRUE(WaitForTitle(player.window, "Track 1/4  0:01 / 0:04  VDN Track 01.wav", &title)) << title;
  std::string wrong;
  EXPECT_EQ(WrongDots(Grab(dir, player.window), t1.PictureNibbles(20), &wrong), 0) << wrong;

  Press(player.window, "Right");
  ASSERT_TRUE(WaitForTitle(player.window, "Track 2/4  0:01 / 0:04  other.wav", &title)) << title;
  EXPECT_EQ(WrongDots(Grab(dir, player.window), t3.PictureNibbles(20), &wrong), 0) << wrong;

  Press(player.window, "Right");
  ASSERT_TRUE(WaitForTitle(player.window, "Track 3/4  0:01 / 0:04  disc.cue, track 1", &title)) << title;
  Press(player.window, "Right");
  ASSERT_TRUE(WaitForTitle(player.window, "Track 4/4  0:00 / 0:04  disc.cue, track 2", &title)) << title;
  // The last track plays to its end, and the player closes.
  const CommandResult r = WaitFor(player.pid, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;

  ExpectHeard(ReadFileBytes(dir.File("heard.raw")), {TrackSound(t1), sound2, TrackSound(t3), TrackSound(t1)});
}

TEST(Play, EndsOnQuitKeysAndSaysSoWithoutADisplay) {
  TempDir dir;
  const std::string track = MakeTrack(dir, "long", {"green", "red"}, 10, 3);
  const uint64_t whole_track_sound = ReadTrack(track).records() * 1960;
  const std::string display = std::getenv("DISPLAY");
  struct Case {
    const char* key;  // null: no display
    int status;
  };
  const Case cases[] = {{"q", 0}, {"Escape", 0}, {nullptr, 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key != nullptr ? c.key : "no display");
    if (c.key == nullptr) {
      if (SkipRowOnWindows({{"no display", "a Windows program draws through wine, which needs the display itself"}},
                           "no display")) {
        continue;
      }
      unsetenv("DISPLAY");
      NoLeakCheckInPlayer();
      const CommandResult r = RunTrackloom({"play", track});
      setenv("DISPLAY", display.c_str(), 1);
      EXPECT_EQ(r.status, c.status);
      EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
      EXPECT_NE(r.err.find("no display"), std::string::npos) << r.err;
      continue;
    }
    const Player player = StartPlayer(dir, {track});
    ASSERT_FALSE(player.window.empty());
    std::string title;
    ASSERT_TRUE(WaitForTitle(player.window, "Track 1/1  0:00", &title)) << title;
    Press(player.window, c.key);
    const CommandResult r = WaitFor(player.pid, dir.path());
    EXPECT_EQ(r.status, c.status) << r.err;
    EXPECT_LT(ReadFileBytes(dir.File("heard.raw")).size(), whole_track_sound) << "it played to the end";
  }
}

}  // namespace
}  // namespace trackloom::testing
