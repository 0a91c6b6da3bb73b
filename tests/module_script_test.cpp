// The Config script line, written by FilterScriptString and read by ConfigScript,
// called directly with hand-made editor records.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/track_list.h"
#include "host/filter_module.h"

namespace trackloom {
namespace {

struct Instance {
  std::unique_ptr<InstanceState> state = std::make_unique<InstanceState>();
  HostContext context{};
  Instance() {
    std::memset(state.get(), 0, sizeof(InstanceState));
    context.instance = state.get();
  }
  void Set(const std::string& audio, const std::string& directory, const char* breaks) {
    std::strcpy(state->audio_path, audio.c_str());
    std::strcpy(state->output_directory, directory.c_str());
    ParseTrackList(*state, breaks);
  }
  std::vector<int32_t> Breaks() const {
    std::vector<int32_t> out;
    for (int i = 0; i < kMaxBreakFrames && state->track_list[i] != 0; ++i) {
      out.push_back(state->track_list[i]);
    }
    return out;
  }
};

// Calls FilterScriptString with a buffer of length bytes inside a guarded area.
// Returns the bytes of the whole buffer (length of them) and checks the guards.
std::vector<char> ScriptString(Instance& instance, int length) {
  constexpr char kGuard = '#';
  constexpr size_t kGuardBytes = 8;
  std::vector<char> area(kGuardBytes * 2 + static_cast<size_t>(length), kGuard);
  EXPECT_TRUE(FilterScriptString(&instance.context, nullptr, area.data() + kGuardBytes, length));
  for (size_t i = 0; i < kGuardBytes; ++i) {
    EXPECT_EQ(area[i], kGuard) << "before the buffer";
    EXPECT_EQ(area[area.size() - 1 - i], kGuard) << "after the buffer";
  }
  return std::vector<char>(area.begin() + kGuardBytes, area.end() - kGuardBytes);
}

TEST(FilterScriptString, WritesTheConfigLine) {
  struct Case {
    const char* name;
    std::string audio;
    std::string directory;
    const char* breaks;
    std::string line;
  };
  const std::string all_backslashes(259, '\\');
  const Case cases[] = {
      {"empty settings", "", "", "", R"(Config(1,"","",""))"},
      {"the example line", R"(C:\Sound\clip.wav)", R"(D:\Tracks)", "250;100",
       R"(Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250"))"},
      {"no backslashes, unchanged", "/home/ann/clip.wav", "/home/ann/out", "5",
       R"(Config(1,"/home/ann/clip.wav","/home/ann/out","5"))"},
      {"trailing backslash doubled too", "", R"(D:\Tracks\)", "",
       R"(Config(1,"","D:\\Tracks\\",""))"},
      {"negative and repeated break frames", "a", "b", "-7;3;3",
       R"(Config(1,"a","b","-7;3;3"))"},
      {"a full path of backslashes", all_backslashes, "x", "",
       "Config(1,\"" + std::string(518, '\\') + "\",\"x\",\"\")"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Instance instance;
    instance.Set(c.audio, c.directory, c.breaks);
    const std::vector<char> buffer = ScriptString(instance, 4096);
    EXPECT_EQ(std::string(buffer.data()), c.line);
  }
}

TEST(FilterScriptString, SmallBuffersGetTheBeginningTerminated) {
  const std::string line = R"(Config(1,"C:\\a.wav","D:\\T","100;250"))";
  const int full = static_cast<int>(line.size());
  struct Case {
    int length;
    std::string text;  // what the buffer holds before its terminator
  };
  const Case cases[] = {
      {full + 1, line},                       // exactly fits
      {full, line.substr(0, line.size() - 1)},  // one short: the last ')' goes
      {10, line.substr(0, 9)},
      {2, "C"},
      {1, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("length " + std::to_string(c.length));
    Instance instance;
    instance.Set(R"(C:\a.wav)", R"(D:\T)", "100;250");
    const std::vector<char> buffer = ScriptString(instance, c.length);
    ASSERT_EQ(buffer.size(), static_cast<size_t>(c.length));
    EXPECT_EQ(std::string(buffer.data(), c.text.size()), c.text);
    EXPECT_EQ(buffer[c.text.size()], '\0');
    EXPECT_EQ(buffer.back(), '\0') << "the last byte is always the terminator";
  }
  // Length 0: nothing written at all, still a success.
  Instance instance;
  EXPECT_TRUE(ScriptString(instance, 0).empty());
}

// An argument list as the editor builds it for Config(version, "a", "b", "c").
struct ConfigCall {
  std::string texts[3];
  char* pointers[3];
  ScriptArgument arguments[4]{};
  ConfigCall(int32_t version, std::string audio, std::string directory, std::string breaks)
      : texts{std::move(audio), std::move(directory), std::move(breaks)} {
    arguments[0].value.i = version;
    for (int i = 0; i < 3; ++i) {
      pointers[i] = texts[i].data();
      arguments[i + 1].value.s = &pointers[i];
    }
  }
};

TEST(ConfigScript, LoadsVersionOneAndIgnoresOthers) {
  const std::string long_path = "C:\\" + std::string(297, 'p');  // 300 characters
  struct Case {
    const char* name;
    int32_t version;
    std::string audio;
    std::string directory;
    std::string breaks;
    int count;
    bool changes;
    std::string expected_audio;
    std::string expected_directory;
    std::vector<int32_t> expected_breaks;
  };
  const Case cases[] = {
      {"the example", 1, R"(C:\Sound\clip.wav)", R"(D:\Tracks)", "100;250", 4, true,
       R"(C:\Sound\clip.wav)", R"(D:\Tracks)", {100, 250}},
      {"empty strings clear everything", 1, "", "", "", 4, true, "", "", {}},
      {"version 2 changes nothing", 2, "a", "b", "1", 4, false, "", "", {}},
      {"version 0 changes nothing", 0, "a", "b", "1", 4, false, "", "", {}},
      {"too few arguments change nothing", 1, "a", "b", "1", 3, false, "", "", {}},
      {"a 300-character audio path is cut to 259", 1, long_path, "d", "", 4, true,
       long_path.substr(0, 259), "d", {}},
      {"a 300-character directory is cut to 259", 1, "a", long_path, "7", 4, true, "a",
       long_path.substr(0, 259), {7}},
      {"259 characters are kept whole", 1, long_path.substr(0, 259), "", "", 4, true,
       long_path.substr(0, 259), "", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Instance instance;
    instance.Set("old audio", "old directory", "9;8");
    instance.state->track_counter = 0x5A5A5A5A;  // the field after the audio path
    ConfigCall call(c.version, c.audio, c.directory, c.breaks);
    int interpreter = 0;
    ConfigScript(&interpreter, &instance.context, call.arguments, c.count);

    if (c.changes) {
      EXPECT_EQ(std::string(instance.state->audio_path), c.expected_audio);
      EXPECT_EQ(std::string(instance.state->output_directory), c.expected_directory);
      EXPECT_EQ(instance.Breaks(), c.expected_breaks);
    } else {
      EXPECT_EQ(std::string(instance.state->audio_path), "old audio");
      EXPECT_EQ(std::string(instance.state->output_directory), "old directory");
      EXPECT_EQ(instance.Breaks(), (std::vector<int32_t>{8, 9}));
    }
    // Neither path ran into the field behind it.
    EXPECT_EQ(instance.state->track_counter, 0x5A5A5A5A);
    EXPECT_EQ(instance.state->output_directory[kPathCapacity - 1], '\0');
    EXPECT_EQ(instance.state->audio_path[kPathCapacity - 1], '\0');
  }
}

TEST(ScriptObject, NamesConfigWithItsSignature) {
  const ScriptFunctionEntry* functions = kScriptObject.functions;
  ASSERT_NE(functions, nullptr);
  EXPECT_EQ(kScriptObject.lookup, nullptr);
  EXPECT_EQ(kScriptObject.sub_objects, nullptr);
  EXPECT_EQ(functions[0].function, &ConfigScript);
  EXPECT_STREQ(functions[0].name, "Config");
  EXPECT_STREQ(functions[0].signature, "0isss");
  EXPECT_EQ(functions[1].function, nullptr);
  EXPECT_EQ(functions[1].name, nullptr);
  EXPECT_EQ(functions[1].signature, nullptr);
}

}  // namespace
}  // namespace trackloom
