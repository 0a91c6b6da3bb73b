// The editor's script line reader: what it accepts, what each argument becomes, and
// where it points when a line is malformed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/errors.h"
#include "runner/script_line.h"

namespace trackloom::runner {
namespace {

using Kind = ScriptValue::Kind;

struct Arg {
  Kind kind;
  int64_t integer;
  std::string text;
};

TEST(ScriptLine, ReadsCalls) {
  struct Case {
    std::string line;
    std::string path;
    std::string function;
    std::vector<Arg> args;
  };
  const Case cases[] = {
      {R"(Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250"))", "", "Config",
       {{Kind::kInteger, 1, ""}, {Kind::kString, 0, "C:\\Sound\\clip.wav"}, {Kind::kString, 0, "D:\\Tracks"},
        {Kind::kString, 0, "100;250"}}},
      // A doubled backslash at the very end of a string is one backslash, not an
      // escaped quote.
      {R"(Config(1,"","D:\\Tracks\\",""))", "", "Config",
       {{Kind::kInteger, 1, ""}, {Kind::kString, 0, ""}, {Kind::kString, 0, "D:\\Tracks\\"}, {Kind::kString, 0, ""}}},
      {R"(  VirtualDub.video.filters.instance[12].Config ( -7 , "a\"b\tc" ) ;  )",
       "VirtualDub.video.filters.instance[12]", "Config",
       {{Kind::kInteger, -7, ""}, {Kind::kString, 0, "a\"b\tc"}}},
      {"f()", "", "f", {}},
      {"f(0x1F,+3,-9223372036854775808)", "", "f",
       {{Kind::kInteger, 31, ""}, {Kind::kInteger, 3, ""}, {Kind::kInteger, INT64_MIN, ""}}},
      {"f(2.5)", "", "f", {{Kind::kReal, 0, ""}}},
      // Bytes above 0x7F pass through unchanged: strings are in the system code page.
      {"f(\"\xE9t\xE9\")", "", "f", {{Kind::kString, 0, "\xE9t\xE9"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const ScriptCall call = ParseScriptLine(c.line);
    EXPECT_EQ(call.object_path, c.path);
    EXPECT_EQ(call.function, c.function);
    ASSERT_EQ(call.arguments.size(), c.args.size());
    for (size_t i = 0; i < c.args.size(); ++i) {
      EXPECT_EQ(call.arguments[i].kind, c.args[i].kind) << "argument " << i;
      if (c.args[i].kind == Kind::kInteger) {
        EXPECT_EQ(call.arguments[i].integer, c.args[i].integer);
      }
      if (c.args[i].kind == Kind::kString) {
        EXPECT_EQ(call.arguments[i].text, c.args[i].text);
      }
    }
  }
  EXPECT_DOUBLE_EQ(ParseScriptLine("f(2.5)").arguments[0].real, 2.5);
  EXPECT_EQ(ParseScriptLine(R"(Config(1, "x"))").arguments[1].column, 11);
}

TEST(ScriptLine, MalformedLinesNameTheirColumn) {
  struct Case {
    std::string line;
    int column;
    std::string words;  // part of the message
  };
  const Case cases[] = {
      {"", 1, "empty line"},
      {"   ", 4, "empty line"},
      {"Config", 7, "'('"},
      {"Config 1", 8, "'('"},
      {"1Config()", 1, "expected a name"},
      {R"(Config(1,"abc)", 10, "not closed"},
      {R"(Config(1,"C:\Sound",""))", 13, "unknown escape '\\S'"},
      {R"(Config(1,"C:\)", 13, "unknown escape"},
      {R"(Config(1,,"",""))", 10, "expected an argument"},
      {R"(Config(1 "",""))", 10, "where ',' or ')'"},
      {"Config(1,\"\",\"\",\"\"", 18, "end of line"},
      {R"(Config(1,"","","")x)", 19, "after the end of the call"},
      {R"(Config(1,"","","");;)", 20, "after the end"},
      {"Config(abc)", 8, "expected an argument"},
      {"Config(-)", 8, "expected a number"},
      {"Config(99999999999999999999)", 8, "too large"},
      {"Config(0x)", 10, "hexadecimal"},
      {"Config(1e)", 10, "exponent"},
      {"a.(1)", 3, "expected a name"},
      {"a[x].f(1)", 3, "index"},
      {std::string("Config(\"a\0b\")", 13), 10, "zero byte"},
      {"Config(\x01)", 8, "byte 0x01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    try {
      ParseScriptLine(c.line);
      ADD_FAILURE() << "accepted";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.column(), c.column) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
      EXPECT_EQ(std::string(e.what()).rfind("column " + std::to_string(c.column) + ": ", 0), 0u) << e.what();
    }
  }
}

TEST(ScriptLine, QuotedStringsReadBackUnchanged) {
  const std::string texts[] = {"", "plain", "C:\\", "\\\\server\\share\\", "say \"hi\"", "tab\tnew\nline\r",
                               "\xFF\x80"};
  for (const std::string& text : texts) {
    SCOPED_TRACE(text);
    const std::string quoted = QuoteScriptString(text);
    const ScriptCall call = ParseScriptLine("f(" + quoted + ")");
    ASSERT_EQ(call.arguments.size(), 1u);
    EXPECT_EQ(call.arguments[0].text, text);
  }
  EXPECT_EQ(QuoteScriptString("D:\\Tracks\\"), R"("D:\\Tracks\\")");
}

}  // namespace
}  // namespace trackloom::runner

namespace trackloom::runner {
namespace {

// Damaged lines, made by cutting, repeating and replacing bytes of good ones, are
// either read or refused with a column inside the line (or just past it); nothing else.
TEST(ScriptLine, DamagedLinesAreReadOrRefusedNeverMore) {
  const std::string seeds[] = {
      R"(Config(1,"C:\\Sound\\clip.wav","D:\\Tracks","100;250"))",
      R"(VirtualDub.video.filters.instance[0].Config(-0x7F, 1.5e3, "a\"b\tc\\"))",
  };
  const char alphabet[] = "\\\"(),.;[]0x1e-+ aZ\t\n\x80\xff";
  uint32_t random = 12345;
  auto next = [&random](uint32_t below) {
    random = random * 1664525u + 1013904223u;  // a plain LCG: the same lines every run
    return (random >> 8) % below;
  };
  int refused = 0;
  for (int round = 0; round < 20000; ++round) {
    std::string line = seeds[round % 2];
    const uint32_t edits = 1 + next(4);
    for (uint32_t e = 0; e < edits && !line.empty(); ++e) {
      const size_t at = next(static_cast<uint32_t>(line.size()));
      switch (next(3)) {
        case 0: line.erase(at, 1 + next(3)); break;
        case 1: line.insert(at, 1, alphabet[next(sizeof alphabet - 1)]); break;
        default: line[at] = alphabet[next(sizeof alphabet - 1)]; break;
      }
    }
    try {
      ParseScriptLine(line);
    } catch (const ScriptError& error) {
      ++refused;
      ASSERT_GE(error.column(), 1) << line;
      ASSERT_LE(error.column(), static_cast<int>(line.size()) + 1) << line;
    }
  }
  EXPECT_GT(refused, 1000);  // the damage did reach the reader
}

}  // namespace
}  // namespace trackloom::runner
