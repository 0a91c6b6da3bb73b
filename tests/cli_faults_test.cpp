// The command under faults: planted links, a busy or stale output directory, a full
// disk, a file-size limit, a killed encode, a FIFO, bytes that are no track. After
// each: the exit status and message, every track in the directory valid, no
// temporary file left, and nothing outside the directory changed.
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <thread>
#include <utility>

#include "tests/cli_run.h"
#include "tests/support/temp_dir.h"

namespace trackloom::testing {
namespace {

constexpr uint64_t kPage = 4096;
constexpr uint64_t kFirstRecord = 2092;
constexpr uint64_t kRecordBytes = 19600;

// What one case works in: DIR (on a small disk of its own where one could be
// mounted), a directory beside it that must stay as it is, and shared clips.
struct Scene {
  Scene(const TempDir& c, std::string r, std::string d, std::string o)
      : clips(c), root(std::move(r)), dir(std::move(d)), outside(std::move(o)) {}
  const TempDir& clips;
  std::string root;
  std::string dir;
  std::string outside;
  pid_t running = 0;  // an encode started by the case, reading from a pipe
  std::unique_ptr<std::ofstream> pipe;  // held open, so that the encode waits for more
  CommandResult finished;  // how that encode ended, for a case that runs no command after it
  std::string clip(const std::string& name) const { return clips.File(name); }
  std::string track(int n) const { return dir + "/" + TrackFileName(n); }
};

// A tmpfs of a given size, where the tests may mount one (as root); unmounted on
// destruction. mounted() is false elsewhere.
class SmallDisk {
 public:
  SmallDisk(const std::string& at, uint64_t bytes) : at_(at) {
    std::filesystem::create_directories(at);
    const std::string options = "size=" + std::to_string(bytes);
    mounted_ = geteuid() == 0 && mount("trackloom-test", at.c_str(), "tmpfs", MS_NOSUID | MS_NODEV,
                                       options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (mounted_) umount2(at_.c_str(), MNT_DETACH);
  }
  bool mounted() const { return mounted_; }

 private:
  std::string at_;
  bool mounted_ = false;
};

void Encode(const Scene& s, const std::vector<std::string>& extra) {
  std::vector<std::string> args = {"encode", s.clip("clip.mkv"), "-o", s.dir, "--quiet"};
  args.insert(args.end(), extra.begin(), extra.end());
  const CommandResult r = RunTrackloom(args);
  ASSERT_EQ(r.status, 0) << r.err;
}

// Track n as an encode writes it: in DIR, or for a later input in its staging directory.
std::string TrackBeingWritten(const Scene& s, int n, bool later_input) {
  for (const std::string& name : ListDirectory(s.dir)) {
    if (later_input && name.rfind(".trackloom-input-", 0) == 0) return s.dir + "/" + name + "/" + TrackFileName(n);
  }
  return s.track(n);
}

// Starts an encode from a pipe (after the inputs before it) and waits until track n
// of the pipe holds more than records records; it then waits for more input, holding DIR.
void StartEncodeFromPipe(Scene& s, const std::vector<std::string>& extra, int n, uint64_t records,
                         const std::vector<std::string>& before = {}) {
  // A Windows program cannot read a Unix FIFO as a stream: there a clip of hours keeps
  // the encode running instead, until the case stops it.
  const std::string pipe = TrackloomIsWindows() ? s.clip("long.mkv") : s.root + "/pipe.nut";
  if (!TrackloomIsWindows()) {
    ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  }
  std::vector<std::string> args = {"encode"};
  args.insert(args.end(), before.begin(), before.end());
  args.insert(args.end(), {pipe, "-o", s.dir, "--quiet"});
  args.insert(args.end(), extra.begin(), extra.end());
  if (TrackloomIsWindows()) args.insert(args.end(), {"--disc-minutes", "1000"});
  s.running = StartTrackloom(args, s.root);
  if (!TrackloomIsWindows()) {
    s.pipe = std::make_unique<std::ofstream>(pipe, std::ios::binary);
    const std::vector<uint8_t> clip = ReadFileBytes(s.clip("raw.nut"));
    s.pipe->write(reinterpret_cast<const char*>(clip.data()), static_cast<std::streamsize>(clip.size() / 2));
    s.pipe->flush();
  }
  for (int i = 0; i < 1000; ++i) {
    struct stat st {};
    if (stat(TrackBeingWritten(s, n, !before.empty()).c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) > kFirstRecord + records * kRecordBytes) {
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  FAIL() << "the encode did not reach track " << n;
}

// Ends the pipe (after a signal, when one is given) and waits for the encode.
void StopEncode(Scene& s, int signal_number) {
  if (s.running == 0) return;
  if (signal_number != 0) SignalTrackloom(s.running, signal_number);
  s.pipe.reset();
  s.finished = WaitFor(s.running, s.root);
  s.running = 0;
}

// Cuts the running encode's converted sound (a file without a name in DIR) after
// 10 records' worth.
void CutConvertedSound(const Scene& s) {
  const std::string fds = "/proc/" + std::to_string(s.running) + "/fd";
  for (const std::string& fd : ListDirectory(fds)) {
    const std::string target = std::filesystem::read_symlink(fds + "/" + fd).string();
    if (target.rfind(s.dir + "/", 0) == 0 && target.find("VDN Track") == std::string::npos) {
      ASSERT_EQ(truncate((fds + "/" + fd).c_str(), 44 + 10 * 1960), 0) << target;
      return;
    }
  }
  FAIL() << "no converted sound open";
}

std::string Snapshot(const std::string& dir) {
  std::string all;
  for (const std::string& name : ListDirectory(dir)) {
    const std::vector<uint8_t> bytes = ReadFileBytes(dir + "/" + name);
    all += name + ":" + std::string(bytes.begin(), bytes.end()) + "\n";
  }
  return all;
}

TEST(CliFaults, EveryFileLeftIsAValidTrackAndNothingOutsideIsTouched) {
  TempDir clips;
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=160x90:rate=18:duration=3", "-f", "lavfi", "-i", "sine=duration=3",
          "-c:v", "ffv1", "-c:a", "pcm_s16le", clips.File("clip.mkv")});
  Ffmpeg({"-f", "lavfi", "-i", "testsrc=size=144x80:rate=18:duration=4", "-c:v", "rawvideo", "-pix_fmt", "bgra",
          clips.File("raw.nut")});
  Ffmpeg({"-f", "lavfi", "-i", "sine=duration=4", clips.File("sound.wav")});
  Encode({clips, clips.path(), clips.File("a-track"), clips.path()}, {"--no-audio"});
  if (TrackloomIsWindows()) {
    // Six hours of one picture a second: quick to make, and hours for the encode to write.
    Ffmpeg({"-f", "lavfi", "-i", "color=c=teal:size=144x80:rate=1:duration=21600", "-c:v",
            "libx264", "-preset", "ultrafast", clips.File("long.mkv")});
  }
  std::vector<uint8_t> noise(2'000'000);
  std::mt19937 random(11);
  for (uint8_t& b : noise) b = static_cast<uint8_t>(random());
  WriteFileBytes(clips.File("noise.bin"), noise);

  using Args = std::function<std::vector<std::string>(const Scene&)>;
  const auto precious = [](const Scene& s) { return s.outside + "/precious"; };
  struct Case {
    const char* name;
    std::function<void(Scene&)> prepare;
    Args args;
    uint64_t disk_bytes;       // a tmpfs of this size holds DIR (0: none)
    uint64_t size_limit;       // ulimit -f where no tmpfs is mounted (0: none)
    int status;
    std::string message;       // on stderr or stdout
    std::vector<int> tracks;   // the track files left in DIR
    std::vector<int> tracks_under_limit;  // ... when a file-size limit stands in for the disk
  };
  const std::string kFull = "the disk is full";
  const Case cases[] = {
      {"encode through a planted link",
       [&](Scene& s) { std::filesystem::create_symlink(precious(s), s.track(1)); },
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--overwrite"}; },
       0, 0, 1, "VDN Track 01.wav': it is a symbolic link, which is never written through", {}, {}},
      {"decode through planted links",
       [&](Scene& s) {
         std::filesystem::create_symlink(precious(s), s.dir + "/sound.wav");
         std::filesystem::create_symlink(precious(s), s.dir + "/record-00000.png");
       },
       [](const Scene& s) { return std::vector<std::string>{"decode", s.clip("a-track/VDN Track 01.wav"), "-o", s.dir}; },
       0, 0, 1, "sound.wav: it is a symbolic link", {}, {}},
      {"decode --video through a planted link",
       [&](Scene& s) { std::filesystem::create_symlink(precious(s), s.dir + "/v.mp4"); },
       [](const Scene& s) {
         return std::vector<std::string>{"decode", s.clip("a-track/VDN Track 01.wav"), "--video", s.dir + "/v.mp4", "--overwrite"};
       },
       0, 0, 1, "v.mp4': it is a symbolic link", {}, {}},
      {"decode --video through a hard link",
       [&](Scene& s) { std::filesystem::create_hard_link(precious(s), s.dir + "/v.mp4"); },
       [](const Scene& s) {
         return std::vector<std::string>{"decode", s.clip("a-track/VDN Track 01.wav"), "--video", s.dir + "/v.mp4", "--overwrite"};
       },
       0, 0, 1, "v.mp4': it has other names (hard links)", {}, {}},
      {"decode --video into a FIFO", [&](Scene& s) { mkfifo((s.dir + "/v.mp4").c_str(), 0600); },
       [](const Scene& s) {
         return std::vector<std::string>{"decode", s.clip("a-track/VDN Track 01.wav"), "--video", s.dir + "/v.mp4", "--overwrite"};
       },
       0, 0, 1, "v.mp4': it is not a regular file (a FIFO", {}, {}},
      {"decode --sheet over an existing file", [&](Scene& s) { WriteFileBytes(s.dir + "/s.png", {'o', 'l', 'd'}); },
       [](const Scene& s) { return std::vector<std::string>{"decode", s.clip("a-track/VDN Track 01.wav"), "--sheet", s.dir + "/s.png"}; },
       0, 0, 1, "s.png': it already exists (give --overwrite to replace it)", {}, {}},
      {"decode of sound.wav into its own directory",
       [&](Scene& s) { std::filesystem::copy_file(s.clip("a-track/VDN Track 01.wav"), s.dir + "/sound.wav"); },
       [](const Scene& s) { return std::vector<std::string>{"decode", s.dir + "/sound.wav", "-o", s.dir, "--no-pictures"}; },
       0, 0, 1, "sound.wav': it is the input '", {}, {}},
      {"repair through a hard link",
       [&](Scene& s) {
         std::vector<uint8_t> cut = ReadFileBytes(s.clip("a-track/VDN Track 01.wav"));
         cut.resize(cut.size() - 100);
         WriteFileBytes(s.outside + "/linked.wav", cut);
         std::filesystem::create_hard_link(s.outside + "/linked.wav", s.dir + "/cut.wav");
       },
       [](const Scene& s) { return std::vector<std::string>{"repair", s.dir + "/cut.wav"}; },
       0, 0, 1, "cut.wav: cannot repair: it has other names (hard links)", {}, {}},
      {"repair --dry-run of a track an encode is writing",
       [&](Scene& s) { StartEncodeFromPipe(s, {"--no-audio"}, 1, 3); },
       [](const Scene& s) { return std::vector<std::string>{"repair", "--dry-run", s.track(1)}; },
       0, 0, 1, "cannot repair: another program is writing it", {1}, {}},
      {"repair of a name with escape codes",
       [&](Scene& s) {
         std::vector<uint8_t> cut = ReadFileBytes(s.clip("a-track/VDN Track 01.wav"));
         cut.resize(cut.size() - 100);
         WriteFileBytes(s.dir + "/e\x1b[2J.wav", cut);
       },
       [](const Scene& s) { return std::vector<std::string>{"repair", s.dir + "/e\x1b[2J.wav"}; },
       0, 0, 0, "e\\x1b[2J.wav: repaired: ", {}, {}},
      {"a second encode into a busy directory",
       [&](Scene& s) { StartEncodeFromPipe(s, {"--no-audio"}, 1, 3); },
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--overwrite"}; },
       0, 0, 1, "another encode (process ", {1}, {}},
      {"stale tracks without --overwrite", [](Scene& s) { Encode(s, {"--break", "18,36"}); },
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir}; },
       0, 0, 1, "already holds 3 track files (VDN Track 01.wav to VDN Track 03.wav)", {1, 2, 3}, {}},
      {"stale tracks with --overwrite", [](Scene& s) { Encode(s, {"--break", "18,36"}); },
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--overwrite"}; },
       0, 0, 0, "Removed 2 tracks of an earlier encode: VDN Track 02.wav VDN Track 03.wav", {1}, {}},
      // Full disks: the tmpfs's pages hold the files' bytes, and nothing else here.
      {"full disk while the sound is converted", nullptr,
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir}; },
       8 * kPage, 50000, 1, "cannot write the converted sound: ", {}, {}},
      {"full disk in a record", nullptr,
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--no-audio"}; },
       100 * kPage, kFirstRecord + 20 * kRecordBytes + 300, 1, "writing frame 20 to '", {1}, {1}},
      // Track 01 of 18 records fills the disk to its last page; track 02 finds no room
      // for its header. (With a file-size limit, which is per file, track 01's lead-in
      // finds none instead.)
      {"full disk exactly at a track break", nullptr,
       [](const Scene& s) {
         return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--no-audio", "--break", "18"};
       },
       (kFirstRecord + 18 * kRecordBytes + kPage - 1) / kPage * kPage, 1000, 1, "Failed to create output file: cannot write '",
       {1}, {}},
      {"ulimit -f", nullptr,
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir}; },
       0, kFirstRecord + 5 * kRecordBytes + kRecordBytes / 2, 1,
       "failed: the file size limit is reached (ulimit -f); the tracks written so far are complete", {1}, {}},
      {"SIGKILL, then repair",
       [&](Scene& s) {
         StartEncodeFromPipe(s, {"--audio", s.clip("sound.wav"), "--break", "10"}, 2, 4);
         StopEncode(s, SIGKILL);
       },
       [](const Scene& s) { return std::vector<std::string>{"repair", s.track(1), s.track(2)}; },
       0, 0, 0, "VDN Track 02.wav: repaired: ", {1, 2}, {}},
      {"a failed --overwrite keeps every earlier track", [](Scene& s) { Encode(s, {"--break", "18,36"}); },
       [](const Scene& s) {
         return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--overwrite", "--no-audio"};
       },
       0, kFirstRecord + kRecordBytes / 2, 1, "no track was written; the earlier tracks in '", {1, 2, 3}, {}},
      {"--overwrite removes only tracks",
       [](Scene& s) {
         Encode(s, {"--break", "18,36"});
         WriteFileBytes(s.track(4), {'k', 'e', 'e', 'p'});
         WriteFileBytes(s.dir + "/VDN Track 100.wav", {'k', 'e', 'e', 'p'});
       },
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--overwrite"}; },
       0, 0, 0, "Removed 2 tracks of an earlier encode: VDN Track 02.wav VDN Track 03.wav\n", {1}, {}},
      {"SIGHUP during the second input",
       [&](Scene& s) {
         StartEncodeFromPipe(s, {"--no-audio"}, 1, 3, {s.clip("clip.mkv")});
         StopEncode(s, SIGHUP);
       },
       nullptr, 0, 0, 129, "", {1, 2}, {}},
      {"SIGQUIT during the second input",
       [&](Scene& s) {
         StartEncodeFromPipe(s, {"--no-audio"}, 1, 3, {s.clip("clip.mkv")});
         StopEncode(s, SIGQUIT);
       },
       nullptr, 0, 0, 131, "", {1, 2}, {}},
      {"what a killed encode left, cleared by the next",
       [&](Scene& s) {
         StartEncodeFromPipe(s, {"--no-audio"}, 1, 3, {s.clip("clip.mkv")});
         StopEncode(s, SIGKILL);
       },
       [](const Scene& s) { return std::vector<std::string>{"encode", s.clip("clip.mkv"), "-o", s.dir, "--overwrite"}; },
       0, 0, 0, "left by an earlier encode that was stopped before it could clear up", {1}, {}},
      {"the converted sound cut short while encoding",
       [&](Scene& s) {
         StartEncodeFromPipe(s, {"--audio", s.clip("sound.wav")}, 1, 3);
         CutConvertedSound(s);
         StopEncode(s, 0);
       },
       nullptr, 0, 0, 1, "the sound's temporary file in '", {1}, {}},
      {"a FIFO into inspect", [&](Scene& s) { mkfifo((s.dir + "/fifo.wav").c_str(), 0600); },
       [](const Scene& s) { return std::vector<std::string>{"inspect", s.dir + "/fifo.wav"}; },
       0, 0, 2, "it is a FIFO, not a regular file", {}, {}},
      {"a FIFO into decode", [&](Scene& s) { mkfifo((s.dir + "/fifo.wav").c_str(), 0600); },
       [](const Scene& s) { return std::vector<std::string>{"decode", s.dir + "/fifo.wav", "-o", s.dir}; },
       0, 0, 2, "it is a FIFO, not a regular file", {}, {}},
      {"random bytes into decode", nullptr,
       [](const Scene& s) { return std::vector<std::string>{"decode", s.clip("noise.bin"), "-o", s.dir + "/pictures"}; },
       0, 0, 1, "is not a track: none of its 101 record-sized pieces starts with a record header", {}, {}},
  };
  const std::string kNoUnixLinks =
      "wine shows a Unix symbolic link as the file it names (no reparse point), and makes none of "
      "its own";
  const std::string kNoFifos = "a Unix FIFO is no file a Windows program can be given by name";
  const std::string kNoSignal =
      "Windows has no hang-up or quit signal: wine ends the process without a console event";
  const std::map<std::string, std::string> not_on_windows = {
      {"encode through a planted link", kNoUnixLinks},
      {"decode through planted links", kNoUnixLinks},
      {"decode --video through a planted link", kNoUnixLinks},
      {"decode --video into a FIFO", kNoFifos},
      {"a FIFO into inspect", kNoFifos},
      {"a FIFO into decode", kNoFifos},
      {"repair of a name with escape codes", "Windows names cannot hold control characters"},
      {"SIGHUP during the second input", kNoSignal},
      {"SIGQUIT during the second input", kNoSignal},
      {"SIGKILL, then repair", "Windows has no unnamed files: a killed encode leaves its converted sound's named temporary file"},
      {"what a killed encode left, cleared by the next",
       "under wine the next encode clears what a killed one left without saying so"},
      {"the converted sound cut short while encoding",
       "/proc/PID/fd names wine's descriptors, not the exe's files"},
  };
  // What trackloom.exe says instead (status, message), where Windows tells less: a file
  // open in an encode cannot be opened at all, and a directory's lock names no holder.
  const std::map<std::string, std::pair<int, std::string>> on_windows_says = {
      {"repair --dry-run of a track an encode is writing", {2, "cannot open: another program has it open"}},
      {"a second encode into a busy directory", {1, "another encode is writing tracks into '"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (SkipRowOnWindows(not_on_windows, c.name)) continue;
    const auto windows_says = on_windows_says.find(c.name);
    const bool differs = TrackloomIsWindows() && windows_says != on_windows_says.end();
    const int status = differs ? windows_says->second.first : c.status;
    const std::string message = differs ? windows_says->second.second : c.message;
    TempDir root;
    SmallDisk disk(root.File("disk"), c.disk_bytes == 0 ? kPage : c.disk_bytes);
    const bool on_small_disk = c.disk_bytes != 0 && disk.mounted();
    Scene s{clips, root.path(), (on_small_disk ? root.File("disk") : root.path()) + "/out", root.File("outside")};
    std::filesystem::create_directories(s.dir);
    std::filesystem::create_directories(s.outside);
    WriteFileBytes(precious(s), {'k', 'e', 'e', 'p'});
    if (c.prepare) c.prepare(s);
    const std::string outside_before = Snapshot(s.outside);
    // Files of the user's in DIR that only look like tracks: left as they are.
    const auto planted = [&] {
      std::vector<std::string> names;
      for (const std::string& name : ListDirectory(s.dir)) {
        const std::string path = s.dir + "/" + name;
        if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path)) &&
            ReadFileBytes(path) == std::vector<uint8_t>{'k', 'e', 'e', 'p'}) {
          names.push_back(name);
        }
      }
      return names;
    };
    const std::vector<std::string> planted_before = planted();

    RunOptions options;
    if (!on_small_disk) options.file_size_limit = c.size_limit;
    // ulimit -f is no Windows limit: wine ends the process at it, and start.exe says 0.
    if (options.file_size_limit != 0 &&
        SkipRowOnWindows({{c.name, "ulimit -f is no Windows limit (wine ends the process there)"}},
                         c.name)) {
      continue;
    }
    // Without args, the case's own encode is the command.
    const CommandResult r = c.args ? RunTrackloom(c.args(s), options) : s.finished;
    StopEncode(s, SIGINT);

    EXPECT_EQ(r.status, status) << r.out << r.err;
    EXPECT_NE((r.out + r.err).find(message), std::string::npos) << r.out << r.err;
    if (c.disk_bytes != 0) {
      EXPECT_NE(r.err.find(on_small_disk ? kFull : "the file size limit is reached"), std::string::npos) << r.err;
    }
    std::vector<int> tracks;
    for (const std::string& name : ListDirectory(s.dir)) {
      EXPECT_NE(name.rfind(".trackloom", 0), 0u) << "a temporary file is left: " << name;
      const std::string path = s.dir + "/" + name;
      if (name.rfind("VDN Track ", 0) != 0 || !std::filesystem::is_regular_file(std::filesystem::symlink_status(path)) ||
          std::count(planted_before.begin(), planted_before.end(), name) > 0) {
        continue;
      }
      tracks.push_back(std::stoi(name.substr(10, 2)));
      const CommandResult inspected = RunTrackloom({"inspect", "--quiet", path});
      EXPECT_EQ(inspected.status, 0) << inspected.out;
    }
    EXPECT_EQ(tracks, c.disk_bytes != 0 && !on_small_disk ? c.tracks_under_limit : c.tracks);
    EXPECT_EQ(planted(), planted_before);
    EXPECT_EQ(Snapshot(s.outside), outside_before);
    EXPECT_EQ(ReadFileBytes(precious(s)), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
  }
}

}  // namespace
}  // namespace trackloom::testing
