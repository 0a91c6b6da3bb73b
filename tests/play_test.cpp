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

// A 144 x 80 clip of hstacked colour bars with a tone, encoded by the command.
std::string MakeTrack(const TempDir& dir, const std::string& name, const std::vector<std::string>& bars,
                      double seconds, int tone) {
  const std::string d = std::to_string(seconds);
  std::string graph;
  for (size_t i = 0; i < bars.size(); ++i) {
    graph += "color=" + bars[i] + ":size=" + std::to_string(144 / bars.size()) + "x80:rate=18:duration=" + d + "[b" +
             std::to_string(i) + "];";
  }
  for (size_t i = 0; i < bars.size(); ++i) graph += "[b" + std::to_string(i) + "]";
  graph += "hstack=" + std::to_string(bars.size());
  const std::string clip = dir.File(name + ".mkv");
  Ffmpeg({"-f", "lavfi", "-i", graph, "-f", "lavfi", "-i", "sine=frequency=" + std::to_string(tone) + ":duration=" + d,
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
                                      std::to_string(player), "--name", "trackloom play"});
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
// Each dot is sampled at its centre in the window.
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
      const int sx = x * kScale + kScale / 2;
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

Player StartPlayer(const TempDir& dir, const std::vector<std::string>& tracks) {
  setenv("SDL_AUDIODRIVER", "disk", 1);
  setenv("SDL_DISKAUDIOFILE", dir.File("heard.raw").c_str(), 1);
  std::vector<std::string> args = {"play", "--scale", std::to_string(kScale)};
  args.insert(args.end(), tracks.begin(), tracks.end());
  const pid_t pid = StartTrackloom(args, dir.path());
  return {pid, WindowOf(pid)};
}

TEST(Play, ShowsThePanelAndPlaysTheSoundOfEachTrackAndSkipsOnRight) {
  TempDir dir;
  const std::string first = MakeTrack(dir, "bars", {"red", "lime", "blue", "white"}, 4, 440);
  const std::string made = MakeTrack(dir, "yellow", {"yellow", "black", "magenta"}, 4, 660);
  // The second track as another encoder writes it: a 392-byte lead-in, and record 5
  // damaged (its header broken), which must play as silence.
  const Track second_made = ReadTrack(made);
  std::vector<uint8_t> other(second_made.bytes.begin(), second_made.bytes.begin() + 44);
  other.resize(44 + 392, 0);
  other.insert(other.end(), second_made.bytes.begin() + kFirstRecord, second_made.bytes.end());
  other[44 + 392 + 5 * kRecordBytes] ^= 0xFF;
  const std::string second = dir.File("other.wav");
  WriteFileBytes(second, other);

  const Track t1 = ReadTrack(first);
  const Track t2 = second_made;
  ASSERT_GE(t1.records(), 40u);
  ASSERT_GE(t2.records(), 30u);
  std::vector<uint8_t> sound2 = TrackSound(t2);
  std::fill_n(sound2.begin() + 5 * 1960, 1960, 0x80);

  const Player player = StartPlayer(dir, {first, second});
  ASSERT_FALSE(player.window.empty()) << "no player window";
  std::string title;
  ASSERT_TRUE(WaitForTitle(player.window, "Track 1/2  0:01 / 0:04  VDN Track 01.wav", &title)) << title;
  std::string wrong;
  EXPECT_EQ(WrongDots(Grab(dir, player.window), t1.PictureNibbles(20), &wrong), 0) << wrong;

  Press(player.window, "Right");
  ASSERT_TRUE(WaitForTitle(player.window, "Track 2/2  0:01 / 0:04  other.wav", &title)) << title;
  EXPECT_EQ(WrongDots(Grab(dir, player.window), t2.PictureNibbles(20), &wrong), 0) << wrong;

  // The last track plays to its end, and the player closes.
  const CommandResult r = WaitFor(player.pid, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;

  // What was heard: silence while the device starts, the first track from its start
  // up to the key, then the whole second track, then silence.
  const std::vector<uint8_t> heard = ReadFileBytes(dir.File("heard.raw"));
  const auto at = std::search(heard.begin(), heard.end(), sound2.begin(), sound2.end());
  ASSERT_NE(at, heard.end()) << "the second track's sound was not heard whole";
  EXPECT_TRUE(std::all_of(at + static_cast<long>(sound2.size()), heard.end(), [](uint8_t b) { return b == 0x80; }));
  const std::vector<uint8_t> sound1 = TrackSound(t1);
  const auto heard1 = std::find_if(heard.begin(), at, [](uint8_t b) { return b != 0x80; });
  const auto start1 = std::find_if(sound1.begin(), sound1.end(), [](uint8_t b) { return b != 0x80; });
  auto end1 = at;  // a moment of silence may fall between the key and the second track
  while (end1 > heard1 && end1[-1] == 0x80) --end1;
  const long length1 = end1 - heard1;
  ASSERT_GE(length1, 35280) << "less than a second of the first track was heard";
  ASSERT_LT(length1, sound1.end() - start1);
  EXPECT_TRUE(std::equal(heard1, end1, start1)) << "the first track was not heard as it is";
}

TEST(Play, EndsOnQuitKeysAndSaysSoWithoutADisplay) {
  TempDir dir;
  const std::string track = MakeTrack(dir, "long", {"green", "red"}, 10, 440);
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
      unsetenv("DISPLAY");
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
