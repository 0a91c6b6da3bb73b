// The command's common parts on their own: times and break lists, the argument
// reader, the progress line and durations.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/encode/encode.h"
#include "cli/common/arguments.h"
#include "cli/common/cli_error.h"
#include "cli/common/duration.h"
#include "cli/common/progress.h"
#include "cli/common/system_calls.h"
#include "cli/common/temp_file.h"
#include "cli/common/unique_fd.h"
#include "cli/tracks/disc_time.h"
#include "cli/tracks/track_files.h"
#include "tests/support/temp_dir.h"

namespace trackloom::cli {
namespace {

TEST(CliUnits, TimesAndBreakLists) {
  struct TimeCase {
    const char* text;
    bool ok;
    double seconds;
  };
  const TimeCase times[] = {
      {"90", true, 90},        {"1:30", true, 90},      {"3:05.5", true, 185.5}, {"1:02:03", true, 3723},
      {"0.25", true, 0.25},    {"1:75", false, 0},      {"1:2:3:4", false, 0},   {"", false, 0},
      {"1:", false, 0},        {"a", false, 0},         {"1.5:00", false, 0},    {"-3", false, 0},
      {"1..2", false, 0},      {":30", false, 0},
  };
  for (const TimeCase& c : times) {
    double seconds = -1;
    EXPECT_EQ(ParseTime(c.text, seconds), c.ok) << c.text;
    if (c.ok) {
      EXPECT_DOUBLE_EQ(seconds, c.seconds) << c.text;
    }
  }
  struct ListCase {
    const char* text;
    const char* bad;  // the item refused; null: accepted
    std::vector<int> frames;
  };
  const ListCase lists[] = {
      {"100,250", nullptr, {100, 250}}, {"30;30 7", nullptr, {30, 30, 7}}, {"2147483647", nullptr, {2147483647}},
      {"-5,10", "-5", {}},              {"0,7", "0", {}},                  {"+4", "+4", {}},
      {"2147483648", "2147483648", {}}, {"4294967295", "4294967295", {}}, {"99999999999", "99999999999", {}},
      {"10x", "10x", {}},               {",", ",", {}},                    {"1e3", "1e3", {}},
  };
  for (const ListCase& c : lists) {
    std::vector<int> frames;
    const std::optional<std::string> bad = encode::ReadBreakFrames(c.text, frames);
    EXPECT_EQ(bad.value_or("(none)"), c.bad ? c.bad : "(none)") << c.text;
    if (!c.bad) {
      EXPECT_EQ(frames, c.frames) << c.text;
    }
  }
  struct DecimalCase {
    const char* text;
    bool ok;
  };
  for (const DecimalCase& c : {DecimalCase{"80", true}, {"0.5", true}, {"74.", true}, {"1e3", false},
                               {"-3", false}, {"+3", false}, {"nan", false}, {"1.2.3", false}, {".", false}}) {
    double value = -1;
    EXPECT_EQ(ParseDecimal(c.text, 0, 1000, &value), c.ok) << c.text;
  }
  // Times on a frame boundary land on that frame despite binary fractions.
  EXPECT_EQ(encode::FrameAtTime(1.5, 30), 45);
  EXPECT_EQ(encode::FrameAtTime(0.1, 30), 3);
  EXPECT_EQ(encode::FrameAtTime(185.5, 29.97), 5559);
  EXPECT_EQ(encode::FrameAtTime(2.0 / 3.0, 18), 12);
  EXPECT_EQ(encode::FrameAtTime(1e20, 30), INT64_MAX);  // refused as too far in, not wrapped
}

// What the reader makes of args after the subcommand's name, "test": the command
// line, and what it wrote on out and err.
struct Reading {
  CommandLine line;
  std::string out, err;
};

std::string TakeText(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, n);
  std::fclose(file);
  return text;
}

Reading Read(const std::vector<Option>& options, const std::string& help, std::vector<std::string> args) {
  args.insert(args.begin(), "test");
  std::vector<char*> argv;
  for (std::string& w : args) argv.push_back(w.data());
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  Reading r{ReadCommandLine(static_cast<int>(argv.size()), argv.data(), options, help, out, err), "", ""};
  r.out = TakeText(out);
  r.err = TakeText(err);
  return r;
}

// Every subcommand reads its command line through the one reader: the spellings it
// accepts, what ends the options, and the status and message of each mistake.
TEST(CliUnits, CommandLineReader) {
  struct Case {
    const char* name;
    std::vector<std::string> args;  // after the subcommand's name
    int status;                     // -1: the command runs
    std::string out_dir, level;     // what --out and --level set
    bool quiet;
    std::vector<std::string> operands;
    const char* err;  // a part of the message, when there is one
  };
  const Case cases[] = {
      {"long with a separate value", {"--out", "d", "x"}, -1, "d", "", false, {"x"}, ""},
      {"long with =", {"--out=d=e", "x"}, -1, "d=e", "", false, {"x"}, ""},
      {"short with a separate value", {"-o", "d"}, -1, "d", "", false, {}, ""},
      {"short with the value attached", {"-od"}, -1, "d", "", false, {}, ""},
      {"a value may begin with a dash", {"-o", "-d"}, -1, "-d", "", false, {}, ""},
      {"flags and operands in any order", {"a", "-q", "b"}, -1, "", "", true, {"a", "b"}, ""},
      {"-- ends the options", {"--", "-q", "--out"}, -1, "", "", false, {"-q", "--out"}, ""},
      {"- is an operand", {"-"}, -1, "", "", false, {"-"}, ""},
      {"help", {"-q", "--help", "--bogus"}, 0, "", "", true, {}, ""},
      {"unknown long", {"--bogus"}, 2, "", "", false, {}, "test: unknown option '--bogus' (see 'trackloom test --help')"},
      {"unknown short", {"-x"}, 2, "", "", false, {}, "unknown option '-x'"},
      {"flags are not bundled", {"-qq"}, 2, "", "", false, {}, "unknown option '-qq'"},
      {"a flag given a value", {"--quiet=1"}, 2, "", "", false, {}, "--quiet takes no value"},
      {"missing value", {"--out"}, 2, "", "", false, {}, "--out needs a directory"},
      {"empty value", {"-o", ""}, 2, "", "", false, {}, "-o needs a directory"},
      {"a value refused", {"--level=9"}, 2, "", "", false, {}, "--level takes 1 or 2, not '9'"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string out_dir, level;
    bool quiet = false;
    const std::vector<Option> options = {
        {"out", 'o', "a directory",
         [&](const std::string& v) {
           out_dir = v;
           return std::string();
         }},
        {"level", 0, "a level",
         [&](const std::string& v) {
           level = v;
           return v == "1" || v == "2" ? "" : "--level takes 1 or 2, not '" + v + "'";
         }},
        {"quiet", 'q', nullptr,
         [&](const std::string&) {
           quiet = true;
           return std::string();
         }},
    };
    const Reading r = Read(options, "HELP\n", c.args);
    EXPECT_EQ(r.line.exit_status.value_or(-1), c.status);
    if (c.status == -1) {
      EXPECT_EQ(out_dir, c.out_dir);
      EXPECT_EQ(level, c.level);
      EXPECT_EQ(r.line.operands, c.operands);
    }
    EXPECT_EQ(quiet, c.quiet);
    EXPECT_EQ(r.out, c.status == 0 ? "HELP\n" : "");
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(!r.err.empty(), c.status == 2) << r.err;
  }
}

// A help's option list is made from the table and an option's words are read against
// its choices: the list's layout (help text from the style's column, or a space after
// a longer spelling; choices under their option, their help in one column across the
// list; no line for an option without help text), the value a word stores, and the
// refusal of any other word in the option's own terms.
TEST(CliUnits, OptionListAndChoices) {
  enum class Shape { kRound, kSquare };
  enum class Colour { kMagenta, kTeal };
  const std::string help =
      "Usage: test [options]\n"
      "Options:\n"
      "  -o, --output DIR  where it goes\n"
      "  --shape MODE      how it looks:\n"
      "                      round    no corners (default)\n"
      "                      square   four corners,\n"
      "                               all alike\n"
      "  --colour-of-the-day COLOUR one a day, seen\n"
      "                    from afar\n"
      "                      magenta  bright\n"
      "                      teal     dark\n"
      "  -q, --quiet       no progress\n"
      "  -h, --help        this help\n"
      "\n"
      "Exit status: 0 done.\n";
  struct Case {
    std::vector<std::string> args;
    int status;  // -1: the command runs
    Shape shape;
    Colour colour;
    std::string out, err;
  };
  const Case cases[] = {
      {{"--help"}, 0, Shape::kRound, Colour::kMagenta, help, ""},
      {{"--shape", "square", "--colour-of-the-day=magenta"}, -1, Shape::kSquare, Colour::kMagenta, "", ""},
      {{"--shape=Square"}, 2, Shape::kRound, Colour::kMagenta, "", "test: --shape takes round or square, not 'Square'"},
      {{"--shape="}, 2, Shape::kRound, Colour::kMagenta, "", "test: --shape needs round or square"},
      {{"--colour-of-the-day", "teal"}, 2, Shape::kRound, Colour::kTeal, "", "test: no teal today"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args[0]);
    Shape shape = Shape::kRound;
    Colour colour = Colour::kMagenta;
    std::string output;
    bool quiet = false, hidden = false;
    const std::vector<Option> options = {
        {"output", 'o', "a directory", StoreValue(&output), "DIR", "where it goes"},
        Choose({"shape", 0, "round or square", nullptr, "MODE", "how it looks:"}, &shape,
               {{"round", Shape::kRound, "no corners (default)"}, {"square", Shape::kSquare, "four corners,\nall alike"}}),
        Choose({"colour-of-the-day", 0, "magenta or teal", nullptr, "COLOUR", "one a day, seen\nfrom afar"}, &colour,
               {{"magenta", Colour::kMagenta, "bright"}, {"teal", Colour::kTeal, "dark"}},
               [](const std::string& word) { return word == "teal" ? "no teal today" : ""; }),
        QuietOption(&quiet, "no progress"),
        {"hidden", 0, nullptr, StoreFlag(&hidden)},
    };
    const Reading r = Read(options, HelpText("Usage: test [options]\nOptions:\n", options, {20, "this help"},
                                             "\nExit status: 0 done.\n"),
                           c.args);
    EXPECT_EQ(r.line.exit_status.value_or(-1), c.status);
    EXPECT_EQ(shape, c.shape);
    EXPECT_EQ(colour, c.colour);
    EXPECT_EQ(r.out, c.out);
    EXPECT_NE(r.err.find(c.err), std::string::npos) << r.err;
    EXPECT_EQ(r.err.empty(), c.err.empty()) << r.err;
  }
}

TEST(CliUnits, ProgressLineAndDurations) {
  EXPECT_EQ(Progress::Line(90, 360, 45.0), "frame 90/360 (25%)  45.0 fps  0:06 left");
  EXPECT_EQ(Progress::Line(90, -1, 45.0), "frame 90  45.0 fps");
  EXPECT_EQ(Progress::Line(0, 360, 0), "frame 0/360 (0%)");
  EXPECT_EQ(Progress::Line(400, 360, 10), "frame 400/400 (100%)  10.0 fps");  // the estimate was short
  struct DurationCase {
    double seconds;
    int decimals;
    const char* text;
  };
  const DurationCase durations[] = {
      {59.4, 0, "0:59"},       {59.5, 0, "1:00"},        {3723, 0, "1:02:03"},       {-4, 0, "0:00"},
      {0.1667, 2, "0:00.17"},  {2.0119, 1, "0:02.0"},    {59.96, 1, "1:00.0"},       {4500.25, 2, "1:15:00.25"},
      {0.0 / 0.0, 1, "0:00.0"},
  };
  for (const DurationCase& d : durations) {
    EXPECT_EQ(FormatDuration(d.seconds, d.decimals), d.text) << d.seconds << " " << d.decimals;
  }
  // 80 minutes of disc hold 43200 records in one track: 40 minutes of video.
  EXPECT_NEAR(DiscSeconds(43200, 1), 4800.0116, 1e-3);
  // Against a disc's minutes the records count exactly: 40:00 of video fits 80 minutes,
  // one record more does not, and the figure never reads as the limit when past it.
  struct DiscCase {
    int64_t records;
    double limit_seconds;
    bool fits;
    const char* text;
  };
  for (const DiscCase& c : {DiscCase{43200, 4800, true, "1:20:00"}, {43201, 4800, false, "1:20:00.1"},
                            {54, 6, true, "0:06"}, {36, 3, false, "0:04"}, {0, 3, true, "0:00"}}) {
    EXPECT_EQ(FitsDisc(c.records, c.limit_seconds), c.fits) << c.records;
    EXPECT_EQ(DiscTimeText(c.records), c.text) << c.records;
  }
  // A run's plan over inputs of known and unknown length: its longest track, and why
  // it is refused for an 80-minute disc (empty: it is not).
  struct PlanCase {
    std::vector<PlannedInput> inputs;
    int64_t records, longest;
    std::string refusal;
  };
  const PlanCase plans[] = {
      {{{"a", 43200, {}}, {"b", 43200, {}}}, 86400, 43200, ""},
      {{{"a", 43201, {}}}, 43201, 43201, "track 1 of 'a' would take 1:20:00.1 of disc time, more than a 80-minute"},
      {{{"a", 86400, {43200}}, {"-", -1, {}}}, 86400, 43200, ""},
      {{{"a", 80000, {100, 100, 50000}}}, 80000, 49900, "track 2 of 'a' would take"},
      {{{"a", 60000, {}}, {"b", 60000, {}}, {"c", 60000, {}}}, 180000, 60000, "the 3 inputs would take together"},
  };
  for (const PlanCase& c : plans) {
    const DiscTimePlan plan = PlanDiscTime(c.inputs);
    EXPECT_EQ(plan.records, c.records);
    EXPECT_EQ(plan.longest, c.longest);
    const std::string refusal = DiscTimeRefusal(plan, c.inputs, 80, 2);
    EXPECT_EQ(refusal.substr(0, c.refusal.size()), c.refusal) << refusal;
    EXPECT_EQ(refusal.empty(), c.refusal.empty()) << refusal;
  }
  EXPECT_EQ(BreakEveryTimes(600, 1500, 60), (std::vector<double>{600, 1200}));
  EXPECT_EQ(BreakEveryTimes(600, 1200, 60), (std::vector<double>{600}));  // none at the very end
  EXPECT_EQ(BreakEveryTimes(600, -1, 3), (std::vector<double>{600, 1200, 1800}));
}

}  // namespace
}  // namespace trackloom::cli

namespace trackloom::cli {
namespace {

// A whole buffer written, or the reason it could not be: a full disk told as such.
TEST(CliUnits, WriteAllWritesEverythingOrSaysWhy) {
  const struct {
    const char* device;
    bool written;
    int error;
  } rows[] = {{"/dev/null", true, 0}, {"/dev/full", false, ENOSPC}};
  const std::vector<char> buffer(1 << 20, 'x');
  for (const auto& row : rows) {
    UniqueFd fd(::open(row.device, O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(fd) << row.device;
    errno = 0;
    EXPECT_EQ(WriteAll(fd.get(), buffer.data(), buffer.size()), row.written) << row.device;
    if (!row.written) {
      EXPECT_EQ(errno, row.error) << row.device;
    }
    UniqueFd moved = std::move(fd);
    EXPECT_FALSE(fd.valid());
    EXPECT_TRUE(moved.Close());
  }
}

// What the calls that put bytes and names on disk leave when they fail part-way: the
// whole buffer or the reason (a signal and short writes gone on from, a write that puts
// nothing told as a full disk), a close's error, a temporary file kept under its name
// or refused and then removed.
TEST(CliUnits, FailingWritesClosesAndRenamesAreToldAndLeaveNothingHalfWay) {
  // Each call of write in turn: n bytes at most, or -errno.
  const struct {
    const char* name;
    std::vector<long long> writes;
    bool written;
    int error;
  } write_rows[] = {
      {"all at once", {1 << 20}, true, 0},
      {"a signal, then the rest", {-EINTR, 1 << 20}, true, 0},
      {"short writes", {1, 7, 4096, 1 << 20}, true, 0},
      {"the disk fills", {4096, 0}, false, ENOSPC},
      {"the disk fails", {4096, -EIO}, false, EIO},
  };
  const std::vector<char> buffer(100000, 'x');
  for (const auto& row : write_rows) {
    size_t call = 0, delivered = 0;
    SystemCalls calls;
    calls.write = [&](int, const void*, size_t size) -> long long {
      const long long step = call < row.writes.size() ? row.writes[call++] : -EIO;
      if (step < 0) {
        errno = static_cast<int>(-step);
        return -1;
      }
      const size_t n = std::min(size, static_cast<size_t>(step));
      delivered += n;
      return static_cast<long long>(n);
    };
    const ScopedSystemCalls fake(calls);
    errno = 0;
    EXPECT_EQ(WriteAll(3, buffer.data(), buffer.size()), row.written) << row.name;
    if (row.written) {
      EXPECT_EQ(delivered, buffer.size()) << row.name;
    } else {
      EXPECT_EQ(errno, row.error) << row.name;
    }
  }

  {
    SystemCalls calls;
    calls.close = [](int fd) {
      ::close(fd);
      errno = EIO;
      return -1;
    };
    const ScopedSystemCalls fake(calls);
    UniqueFd fd(::open("/dev/null", O_WRONLY | O_CLOEXEC));
    EXPECT_FALSE(fd.Close());
    EXPECT_EQ(errno, EIO);
    EXPECT_FALSE(fd.valid());
  }

  // A rename that fails: Keep throws, KeepAsNew says false for a name taken and throws
  // otherwise; the temporary file goes either way and nothing is at the final name.
  const struct {
    const char* name;
    bool as_new;
    int error;
    bool throws;
  } rename_rows[] = {
      {"replacing, across file systems", false, EXDEV, true},
      {"as new, the name taken meanwhile", true, EEXIST, false},
      {"as new, no permission", true, EACCES, true},
  };
  for (const auto& row : rename_rows) {
    const testing::TempDir dir;
    const auto fail = [&row](const char*, const char*) {
      errno = row.error;
      return -1;
    };
    SystemCalls calls;
    calls.replace_name = calls.new_name = fail;
    const ScopedSystemCalls fake(calls);
    std::string temp_path;
    {
      TempFile temp;
      temp.Create(dir.path(), "part-", ".wav");
      temp_path = temp.path();
      bool threw = false;
      try {
        if (row.as_new) {
          EXPECT_FALSE(temp.KeepAsNew(dir.File("final.wav"))) << row.name;
        } else {
          temp.Keep(dir.File("final.wav"));
        }
      } catch (const CliError&) {
        threw = true;
      }
      EXPECT_EQ(threw, row.throws) << row.name;
    }
    EXPECT_FALSE(std::filesystem::exists(temp_path)) << row.name;
    EXPECT_FALSE(std::filesystem::exists(dir.File("final.wav"))) << row.name;
  }
}

}  // namespace
}  // namespace trackloom::cli
