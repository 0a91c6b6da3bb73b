// The replacement editor's own duties, checked with a small fake module that records
// what it is given: registration bookkeeping, the raise-error service in both modes,
// instance blocks, the records passed with each callback, and script calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "runner/editor.h"

namespace trackloom::runner {
namespace {

// What the fake module saw; reset by each test.
struct Seen {
  int record_size = static_cast<int>(sizeof(FilterRecord));
  int filters_to_register = 1;
  bool refuse_instances = false;
  FilterRecord* handles[2] = {};
  int inits = 0;
  int deinits = 0;
  int starts = 0;
  int runs = 0;
  int ends = 0;
  int start_result = 0;
  bool raise_at_run = false;
  bool returned_from_raise = false;
  HostContext context{};
  HostBitmap source{};
  HostBitmap destination{};
  HostFrameState frame{};
  std::vector<std::string> calls;  // script calls, as text
  int describe2_length = 0;
} seen;

int TRACKLOOM_CDECL FakeInstanceInit(HostContext* context, HostServices*) {
  ++seen.inits;
  seen.context = *context;
  return seen.refuse_instances ? 1 : 0;
}
void TRACKLOOM_CDECL FakeInstanceDeinit(HostContext*, HostServices*) { ++seen.deinits; }
int TRACKLOOM_CDECL FakeStart(HostContext* context, HostServices*) {
  ++seen.starts;
  seen.source = *context->source;
  seen.destination = *context->destination;
  return seen.start_result;
}
int TRACKLOOM_CDECL FakeRun(HostContext* context, HostServices* services) {
  ++seen.runs;
  seen.source = *context->source;
  seen.frame = *context->frame_state;
  // Paints the bottom-left output pixel with the output frame number.
  static_cast<uint32_t*>(context->destination->data)[0] = static_cast<uint32_t>(context->frame_state->output_frame);
  if (seen.raise_at_run) {
    services->raise_error("frame %d of %s", context->frame_state->output_frame, "the clip");
    seen.returned_from_raise = true;
    return 1;
  }
  return 0;
}
int TRACKLOOM_CDECL FakeEnd(HostContext*, HostServices*) {
  ++seen.ends;
  return 0;
}
int TRACKLOOM_CDECL FakeConfigure(HostContext* context, HostServices*, HostWindow parent) {
  seen.context = *context;
  return parent == nullptr ? -1 : 1;
}
void TRACKLOOM_CDECL FakeDescribe2(HostContext*, HostServices*, char* buffer) {
  std::strcpy(buffer, "two");
}
void TRACKLOOM_CDECL FakeSetInt(void*, void*, const ScriptArgument* a, int count) {
  seen.calls.push_back("Set(i) " + std::to_string(a[0].value.i) + " count " + std::to_string(count) + " tag " +
                       std::to_string(a[0].type));
}
void TRACKLOOM_CDECL FakeSetMixed(void*, void* context, const ScriptArgument* a, int) {
  char** text = a[2].value.s;
  seen.calls.push_back("Set(lds) " + std::to_string(a[0].value.l) + " " + std::to_string(a[1].value.d) + " " +
                       *text + (context == &seen.context ? "" : " ctx") + " tags " + std::to_string(a[0].type) + " " +
                       std::to_string(a[1].type) + " " + std::to_string(a[2].type));
  (*text)[0] = 'X';  // the editor's copy may be written; the line is not
}

constexpr ScriptFunctionEntry kFakeFunctions[] = {
    {&FakeSetInt, "Set", "0i"},
    {&FakeSetMixed, "Set", "0lds"},
    {nullptr, nullptr, nullptr},
};
constexpr ScriptObject kFakeScript = {nullptr, kFakeFunctions, nullptr};

FilterRecord MakeRecord() {
  FilterRecord r{};
  r.name = "Fake";
  r.instance_size = 37;
  r.init = &FakeInstanceInit;
  r.deinit = &FakeInstanceDeinit;
  r.run = &FakeRun;
  r.start = &FakeStart;
  r.end = &FakeEnd;
  r.script_object = &kFakeScript;
  r.describe2 = &FakeDescribe2;
  r.configure = &FakeConfigure;
  return r;
}
const FilterRecord kFakeRecord = MakeRecord();

int TRACKLOOM_CDECL FakeModuleInit(HostModule* module, HostServices* services, int* api, int* compatible) {
  for (int i = 0; i < seen.filters_to_register; ++i) {
    seen.handles[i] = services->add_filter(module, &kFakeRecord, seen.record_size);
    if (seen.handles[i] == nullptr) return 1;
  }
  *api = 8;
  *compatible = 4;
  return 0;
}
void TRACKLOOM_CDECL FakeModuleDeinit(HostModule*, HostServices* services) {
  for (int i = seen.filters_to_register - 1; i >= 0; --i) services->remove_filter(seen.handles[i]);
}

constexpr ModuleExports kFake{&FakeModuleInit, &FakeModuleDeinit};

class RunnerEditor : public ::testing::Test {
 protected:
  void SetUp() override { seen = Seen{}; }
};

TEST_F(RunnerEditor, Registration) {
  struct Case {
    const char* what;
    int record_size;
    int filters;
    bool refuse;
    int result;
    size_t registered;
  };
  const Case cases[] = {
      {"one filter", static_cast<int>(sizeof(FilterRecord)), 1, false, 0, 1},
      {"two filters", static_cast<int>(sizeof(FilterRecord)), 2, false, 0, 2},
      {"a record of another layout's size", 88 + 176 - static_cast<int>(sizeof(FilterRecord)), 1, false, 1, 0},
      {"an editor that refuses", static_cast<int>(sizeof(FilterRecord)), 1, true, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    seen = Seen{};
    seen.record_size = c.record_size;
    seen.filters_to_register = c.filters;
    Editor editor;
    editor.set_refuse_registrations(c.refuse);
    int marker = 0;
    LoadedModule module(editor, kFake, &marker);
    EXPECT_EQ(module.init_result(), c.result);
    EXPECT_EQ(module.filter_count(), c.registered);
    EXPECT_EQ(module.api_version().has_value(), c.result == 0);
    EXPECT_EQ(module.offered_record_sizes().front(), c.record_size);
    EXPECT_EQ(module.module_record().module_handle, &marker);
    for (size_t i = 0; i < module.filter_count(); ++i) {
      // The editor's own copy, pointing at its module record.
      EXPECT_EQ(&module.filter(i), seen.handles[i]);
      EXPECT_NE(&module.filter(i), &kFakeRecord);
      EXPECT_EQ(module.filter(i).module, &module.module_record());
      EXPECT_STREQ(module.filter(i).name, "Fake");
    }
    EXPECT_THROW(module.filter(c.registered), Error);
    module.Withdraw();
    module.Withdraw();  // once only
    std::vector<FilterRecord*> removed(seen.handles, seen.handles + c.filters);
    std::reverse(removed.begin(), removed.end());
    EXPECT_EQ(module.removed_handles(), removed);
  }
}

TEST_F(RunnerEditor, RaiseErrorReturnsOrThrowsFromTheService) {
  for (RaiseErrorMode mode : {RaiseErrorMode::kRecordAndReturn, RaiseErrorMode::kRecordAndThrow}) {
    const bool throws = mode == RaiseErrorMode::kRecordAndThrow;
    SCOPED_TRACE(throws ? "throwing" : "returning");
    seen = Seen{};
    Editor editor(mode);
    LoadedModule module(editor, kFake);
    FilterInstance filter(module);
    seen.raise_at_run = true;
    ASSERT_EQ(filter.Start(FrameFormat{}), 0);
    uint32_t pixel = 0;
    if (throws) {
      try {
        filter.Run(FrameView::BottomUp(&pixel, 4), 3, 3);
        ADD_FAILURE() << "nothing thrown";
      } catch (const FilterError& e) {
        EXPECT_STREQ(e.what(), "frame 3 of the clip");
      }
    } else {
      EXPECT_EQ(filter.Run(FrameView::BottomUp(&pixel, 4), 3, 3), 1);
    }
    // Thrown from inside the service: the module's code after the call never ran.
    EXPECT_EQ(seen.returned_from_raise, !throws);
    EXPECT_EQ(editor.raised_errors(), std::vector<std::string>{"frame 3 of the clip"});
    EXPECT_EQ(filter.End(), 0);

    // A whole render reports the same in both modes, and end still follows.
    editor.ClearRaisedErrors();
    PaintedFrameSource frames(FrameFormat{}, 5, nullptr);
    const RenderReport report = filter.Render(frames);
    EXPECT_FALSE(report.ok);
    EXPECT_EQ(report.failed_frame, 0);
    EXPECT_EQ(report.errors, std::vector<std::string>{"frame 0 of the clip"});
    EXPECT_EQ(seen.ends, 2);
  }
}

TEST_F(RunnerEditor, InstancesAndTheRecordsPassedToCallbacks) {
  Editor editor;
  LoadedModule module(editor, kFake);
  {
    FilterInstance filter(module);
    EXPECT_EQ(seen.inits, 1);
    EXPECT_EQ(filter.size(), 37u);
    const auto* block = static_cast<const uint8_t*>(filter.data());
    for (size_t i = 0; i < filter.size(); ++i) ASSERT_EQ(block[i], 0) << "byte " << i;
    EXPECT_EQ(seen.context.filter, &module.filter());
    EXPECT_EQ(static_cast<void*>(seen.context.instance), filter.data());

    EXPECT_THROW(filter.Run(FrameView{}, 0, 0), Error);
    EXPECT_THROW(filter.End(), Error);

    // A top-down buffer of 3 x 2 pixels arrives as its last row with a negative pitch.
    const uint32_t pixels[6] = {1, 2, 3, 4, 5, 6};
    FrameFormat format{3, 2, 32, 40000};
    OutputFormat output;
    output.width = 4;
    output.height = 1;
    output.depth = 24;
    output.fill = 9;
    ASSERT_EQ(filter.Start(format, output), 0);
    EXPECT_THROW(filter.Start(format, output), Error);
    EXPECT_EQ(seen.source.width, 3);
    EXPECT_EQ(seen.source.height, 2);
    EXPECT_EQ(seen.source.depth, 32);
    EXPECT_EQ(seen.destination.width, 4);
    EXPECT_EQ(seen.destination.height, 1);
    EXPECT_EQ(seen.destination.depth, 24);
    EXPECT_EQ(seen.destination.pitch, 16);
    ASSERT_EQ(filter.Run(FrameView::TopDown(pixels, 12, 2), 7, 11), 0);
    EXPECT_EQ(seen.source.data, &pixels[3]);
    EXPECT_EQ(seen.source.pitch, -12);
    EXPECT_EQ(seen.frame.output_frame, 7);
    EXPECT_EQ(seen.frame.source_frame, 11);
    EXPECT_EQ(seen.frame.microseconds_per_frame, 40000);
    EXPECT_EQ(filter.output_pixel(0, 0), 7u);
    EXPECT_EQ(filter.output_pixel(3, 0), 9u);
    EXPECT_THROW(filter.output_pixel(4, 0), Error);
    EXPECT_EQ(filter.Describe2(16), "two");
    EXPECT_EQ(filter.Describe(), "");  // no callback in that slot
    EXPECT_FALSE(filter.ScriptString().has_value());
    int window = 0;
    EXPECT_EQ(filter.Configure(), -1);
    EXPECT_EQ(filter.Configure(&window), 1);
    EXPECT_EQ(static_cast<void*>(seen.context.instance), filter.data());
    // Going away in the middle of a render ends it first.
  }
  EXPECT_EQ(seen.ends, 1);
  EXPECT_EQ(seen.deinits, 1);

  seen.refuse_instances = true;
  EXPECT_THROW(FilterInstance refused(module), Error);
}

TEST_F(RunnerEditor, ScriptCallsPickTheMatchingSignature) {
  Editor editor;
  LoadedModule module(editor, kFake);
  FilterInstance filter(module);
  filter.RunScriptLine("Set(-4)");
  filter.RunScriptLine(R"(Set(5000000000, 2, "a\\b"))");
  filter.RunScriptLine(R"(x.Set(1, 0.5, "c"))");
  // Type tags as the editor SDK numbers them: int 1, string 3, long 9, double 10.
  EXPECT_EQ(seen.calls, (std::vector<std::string>{"Set(i) -4 count 1 tag 1",
                                                  "Set(lds) 5000000000 2.000000 a\\b ctx tags 9 10 3",
                                                  "Set(lds) 1 0.500000 c ctx tags 9 10 3"}));
  struct Case {
    std::string line;
    int column;
    std::string words;
  };
  const Case cases[] = {
      {"Set(5000000000)", 5, "argument 1 is int where int is expected"},
      {R"(Set("a"))", 5, "argument 1 is string where int is expected"},
      {"Set()", 1, "0 arguments given; the filter takes Set(int) or Set(long, double, string)"},
      {R"(Set(1, "a", "b"))", 8, "argument 2 is string where double is expected"},
      {"Set(1, 2, 3, 4)", 8, "4 arguments given"},  // one too many for Set(int)
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    try {
      filter.RunScriptLine(c.line);
      ADD_FAILURE() << "accepted";
    } catch (const ScriptError& e) {
      EXPECT_EQ(e.column(), c.column) << e.what();
      EXPECT_NE(std::string(e.what()).find(c.words), std::string::npos) << e.what();
    }
  }
  EXPECT_EQ(seen.calls.size(), 3u);
}

}  // namespace
}  // namespace trackloom::runner
