// Settings saved and restored as the editor does it: the filter's script line is
// asked for, and lines are run through the editor's script reader into Config.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/instance_state.h"
#include "runner/editor.h"
#include "tests/scenario_support.h"

namespace trackloom::scenario {
namespace {

std::vector<int32_t> Breaks(const InstanceState& state) {
  std::vector<int32_t> list;
  for (int i = 0; i < kMaxBreakFrames && state.track_list[i] != 0; ++i) list.push_back(state.track_list[i]);
  return list;
}

struct Settings {
  std::string audio;
  std::string directory;
  std::vector<int32_t> breaks;
};

void ExpectSettings(runner::FilterInstance& filter, const Settings& want) {
  const InstanceState& state = State(filter);
  EXPECT_EQ(std::string(state.audio_path), want.audio);
  EXPECT_EQ(std::string(state.output_directory), want.directory);
  EXPECT_EQ(Breaks(state), want.breaks);
}

TEST(ScenarioScript, LinesIntoSettingsAndBack) {
  struct Case {
    const char* what;
    std::string line;
    Settings settings;
    std::string line_back;  // the filter's own script line for those settings
  };
  const std::string path259(259, 'p');
  const Case cases[] = {
      {"the example line", R"(Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250"))",
       {"C:\\Sound\\clip.wav", "D:\\Tracks", {100, 250}},
       R"(Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250"))"},
      {"empty settings", R"(Config(1,"","",""))", {"", "", {}}, R"(Config(1,"","",""))"},
      {"trailing backslash doubled as well", R"(Config(1,"a.wav","D:\\Tracks\\","1"))",
       {"a.wav", "D:\\Tracks\\", {1}}, R"(Config(1,"a.wav","D:\\Tracks\\","1"))"},
      {"root directory and a share", R"(Config(1,"\\\\server\\share\\x.wav","C:\\",""))",
       {"\\\\server\\share\\x.wav", "C:\\", {}}, R"(Config(1,"\\\\server\\share\\x.wav","C:\\",""))"},
      {"break list in any order, as the dialog's text", R"(Config(1,"","out","300 100 200 100"))",
       {"", "out", {100, 100, 200, 300}}, R"(Config(1,"","out","100;100;200;300"))"},
      {"negative and saturated frames", R"(Config(1,"","out","10;-5;4294967296"))",
       {"", "out", {-5, -1, 10}}, R"(Config(1,"","out","-5;-1;10"))"},
      {"spaces, a semicolon and the object path",
       R"(  VirtualDub.video.filters.instance[0].Config( 1 , "x" , "y" , "7" ) ; )", {"x", "y", {7}},
       R"(Config(1,"x","y","7"))"},
      {"a path of 259 characters", "Config(1,\"" + path259 + "\",\"d\",\"\")", {path259, "d", {}},
       "Config(1,\"" + path259 + "\",\"d\",\"\")"},
      {"a longer path is cut to 259 characters", "Config(1,\"" + path259 + "xyz\",\"d\",\"\")",
       {path259, "d", {}}, "Config(1,\"" + path259 + "\",\"d\",\"\")"},
      {"bytes above 0x7F pass through", "Config(1,\"C:\\\\M\xFCsik\\\\\xE9t\xE9.wav\",\"\",\"\")",
       {"C:\\M\xFCsik\\\xE9t\xE9.wav", "", {}}, "Config(1,\"C:\\\\M\xFCsik\\\\\xE9t\xE9.wav\",\"\",\"\")"},
  };
  runner::Editor editor;
  auto module = OpenModule(editor);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    runner::FilterInstance filter(*module);
    filter.RunScriptLine(c.line);
    ExpectSettings(filter, c.settings);
    EXPECT_EQ(filter.ScriptString(), c.line_back);
  }
  EXPECT_TRUE(editor.raised_errors().empty());
}

TEST(ScenarioScript, RoundTripRestoresEverySetting) {
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance original(*module);
  // The longest settings there are: two 259-character paths of backslashes and 60
  // break frames of 11 characters.
  std::string breaks;
  for (int i = 0; i < 60; ++i) breaks += (i ? ";" : "") + std::to_string(-2147483647 + i);
  original.RunScriptLine(ConfigLine(std::string(259, '\\'), "E:\\" + std::string(256, '\\'), breaks));
  ASSERT_EQ(Breaks(State(original)).size(), 60u);

  const std::optional<std::string> line = original.ScriptString();
  ASSERT_TRUE(line.has_value());
  runner::FilterInstance restored(*module);
  restored.RunScriptLine(*line);
  const InstanceState& a = State(original);
  const InstanceState& b = State(restored);
  EXPECT_EQ(std::memcmp(a.output_directory, b.output_directory, sizeof a.output_directory), 0);
  EXPECT_EQ(std::memcmp(a.audio_path, b.audio_path, sizeof a.audio_path), 0);
  EXPECT_EQ(std::memcmp(a.track_list, b.track_list, sizeof a.track_list), 0);
  EXPECT_EQ(restored.ScriptString(), line);

  // A buffer too small for the line gets its beginning, terminated in its last place.
  EXPECT_EQ(restored.ScriptString(12), line->substr(0, 11));
  EXPECT_EQ(restored.ScriptString(1), "");
}

TEST(ScenarioScript, LinesThatChangeNothing) {
  struct Case {
    const char* what;
    std::string line;
    int column;  // of the reported fault; 0: not an error, ignored by the filter
  };
  const Case cases[] = {
      {"another settings version", R"(Config(2,"a","b","1"))", 0},
      {"version 0", R"(Config(0,"a","b","1"))", 0},
      {"single backslash", R"(Config(1,"C:\Sound\clip.wav","D:\\Tracks","1"))", 13},
      {"unclosed string", R"(Config(1,"a","b","1)", 18},
      {"missing argument", R"(Config(1,"a","b"))", 1},
      {"one argument too many", R"(Config(1,"a","b","1","2"))", 22},
      {"string where the version goes", R"(Config("1","a","b","1"))", 8},
      {"number where a path goes", R"(Config(1,2,"b","1"))", 10},
      {"version beyond 32 bits", R"(Config(4294967297,"a","b","1"))", 8},
      {"real where the version goes", R"(Config(1.0,"a","b","1"))", 8},
      {"text after the call", R"(Config(1,"a","b","1") Config(1,"c","d","2"))", 23},
      {"no call", "Config", 7},
  };
  runner::Editor editor;
  auto module = OpenModule(editor);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    runner::FilterInstance filter(*module);
    const std::string before = R"(Config(1,"C:\\old.wav","D:\\Old","5;6"))";
    filter.RunScriptLine(before);
    if (c.column == 0) {
      filter.RunScriptLine(c.line);
    } else {
      try {
        filter.RunScriptLine(c.line);
        ADD_FAILURE() << "accepted";
      } catch (const runner::ScriptError& e) {
        EXPECT_EQ(e.column(), c.column) << e.what();
      }
    }
    EXPECT_EQ(filter.ScriptString(), before);
  }
  // A function the filter does not have is named in the error.
  runner::FilterInstance filter(*module);
  try {
    filter.RunScriptLine("Frobnicate(1)");
    ADD_FAILURE() << "accepted";
  } catch (const runner::Error& e) {
    EXPECT_NE(std::string(e.what()).find("no script function Frobnicate"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(editor.raised_errors().empty());
}

TEST(ScenarioScript, DamagedLinesNeverHarmTheSettings) {
  // Whatever a damaged line does, the filter ends up with settings it can write back
  // as a line that restores them.
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);
  const std::string seed = R"(Config(1,"C:\\Sound\\clip.wav","D:\\Tracks\\","100;250;-3"))";
  const char alphabet[] = "\\\"(),;0123456789-+ xZ\x80";
  uint32_t random = 777;
  auto next = [&random](uint32_t below) {
    random = random * 1664525u + 1013904223u;
    return (random >> 8) % below;
  };
  for (int round = 0; round < 3000; ++round) {
    std::string line = seed;
    for (uint32_t e = 0, edits = 1 + next(3); e < edits; ++e) {
      const size_t at = next(static_cast<uint32_t>(line.size()));
      if (next(2) == 0) {
        line.insert(at, std::string(1 + next(400) * next(2), alphabet[next(sizeof alphabet - 1)]));
      } else {
        line[at] = alphabet[next(sizeof alphabet - 1)];
      }
    }
    try {
      filter.RunScriptLine(line);
    } catch (const runner::Error&) {
    }
    const InstanceState& state = State(filter);
    ASSERT_EQ(state.audio_path[kPathCapacity - 1], '\0') << line;
    ASSERT_EQ(state.output_directory[kPathCapacity - 1], '\0') << line;
    const std::optional<std::string> back = filter.ScriptString();
    ASSERT_TRUE(back.has_value());
    runner::FilterInstance copy(*module);
    const bool quoted = std::strchr(state.audio_path, '"') != nullptr || std::strchr(state.output_directory, '"') != nullptr;
    try {
      copy.RunScriptLine(*back);
      ASSERT_EQ(copy.ScriptString(), back) << line;
    } catch (const runner::ScriptError& e) {
      // Only a double quote inside a path, which the line does not escape, may keep
      // it from reading back.
      ASSERT_TRUE(quoted) << line << " wrote " << *back << ": " << e.what();
    }
  }
  EXPECT_TRUE(editor.raised_errors().empty());
}

}  // namespace
}  // namespace trackloom::scenario
