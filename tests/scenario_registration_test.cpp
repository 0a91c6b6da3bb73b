// Registration as the editor sees it: the record the module hands to add-filter, the
// versions it reports, a refused registration, and withdrawal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "core/track_format.h"
#include "runner/editor.h"
#include "tests/scenario_support.h"
#include "tests/support/temp_dir.h"

namespace trackloom::scenario {
namespace {

constexpr size_t kRecordSize = sizeof(void*) == 4 ? 88 : 176;
constexpr int kInstanceSize = sizeof(void*) == 4 ? 22192 : 22200;

TEST(ScenarioRegistration, EditorCopyOfTheRecord) {
  runner::Editor editor;
  auto module = OpenModule(editor);
  ASSERT_EQ(module->init_result(), 0);
  EXPECT_EQ(module->api_version(), 8);
  EXPECT_EQ(module->compatible_version(), 4);
  ASSERT_EQ(module->offered_record_sizes(), std::vector<int>{static_cast<int>(kRecordSize)});
  ASSERT_EQ(module->filter_count(), 1u);

  const FilterRecord& record = module->filter();
  EXPECT_EQ(record.module, &module->module_record());
  if (ModuleIsLoadedFromFile()) {
    EXPECT_NE(module->module_record().module_handle, nullptr);
  }
  EXPECT_EQ(record.next, nullptr);
  EXPECT_EQ(record.prev, nullptr);
  // The strings themselves are the filter record's unit test's to check.
  EXPECT_NE(record.name, nullptr);
  EXPECT_EQ(record.private_data, nullptr);
  EXPECT_EQ(record.instance_size, kInstanceSize);

  struct Slot {
    const char* name;
    const void* value;
    bool present;
  };
  const Slot slots[] = {
      {"init", reinterpret_cast<const void*>(record.init), false},
      {"deinit", reinterpret_cast<const void*>(record.deinit), false},
      {"run", reinterpret_cast<const void*>(record.run), true},
      {"params", reinterpret_cast<const void*>(record.params), true},
      {"configure", reinterpret_cast<const void*>(record.configure), true},
      {"describe", reinterpret_cast<const void*>(record.describe), true},
      {"start", reinterpret_cast<const void*>(record.start), true},
      {"end", reinterpret_cast<const void*>(record.end), true},
      {"script object", record.script_object, true},
      {"script string", reinterpret_cast<const void*>(record.script_string), true},
      {"describe2", reinterpret_cast<const void*>(record.describe2), true},
      {"serialize", reinterpret_cast<const void*>(record.serialize), false},
      {"deserialize", reinterpret_cast<const void*>(record.deserialize), false},
      {"copy", reinterpret_cast<const void*>(record.copy), false},
  };
  for (const Slot& s : slots) EXPECT_EQ(s.value != nullptr, s.present) << s.name;
  EXPECT_EQ(reinterpret_cast<const void*>(record.describe), reinterpret_cast<const void*>(record.describe2));

  ASSERT_NE(record.script_object, nullptr);
  const ScriptObject& object = *record.script_object;
  EXPECT_EQ(object.lookup, nullptr);
  EXPECT_EQ(object.sub_objects, nullptr);
  ASSERT_NE(object.functions, nullptr);
  EXPECT_NE(object.functions[0].function, nullptr);
  EXPECT_STREQ(object.functions[0].name, "Config");
  EXPECT_STREQ(object.functions[0].signature, "0isss");
  EXPECT_EQ(object.functions[1].function, nullptr);
  EXPECT_EQ(object.functions[1].name, nullptr);
  EXPECT_EQ(object.functions[1].signature, nullptr);

  // Withdrawal hands back the very handle add-filter returned: the editor's copy.
  FilterRecord* handle = &module->filter();
  module->Withdraw();
  EXPECT_EQ(module->removed_handles(), std::vector<FilterRecord*>{handle});
}

TEST(ScenarioRegistration, RefusedRegistration) {
  runner::Editor editor;
  editor.set_refuse_registrations(true);
  auto module = OpenModule(editor);
  EXPECT_EQ(module->init_result(), 1);
  EXPECT_FALSE(module->api_version().has_value());
  EXPECT_FALSE(module->compatible_version().has_value());
  EXPECT_EQ(module->filter_count(), 0u);
  EXPECT_THROW(runner::FilterInstance filter(*module), runner::Error);
  // The stored handle is the refusal's null, and that is what is withdrawn.
  module->Withdraw();
  EXPECT_EQ(module->removed_handles(), std::vector<FilterRecord*>{nullptr});
  EXPECT_TRUE(editor.raised_errors().empty());
}

TEST(ScenarioRegistration, SmallCallbacks) {
  runner::Editor editor;
  auto module = OpenModule(editor);
  runner::FilterInstance filter(*module);
  EXPECT_EQ(filter.size(), static_cast<size_t>(kInstanceSize));
  // The editor's block is zero-filled: no settings, nothing open.
  const auto* block = static_cast<const uint8_t*>(filter.data());
  EXPECT_TRUE(std::all_of(block, block + filter.size(), [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(filter.Params(), 1);

  // Both description slots leave an empty string whatever the buffer held.
  const FilterRecord& record = filter.filter();
  char buffer[64];
  for (auto describe : {record.describe, record.describe2}) {
    std::memset(buffer, 'x', sizeof buffer);
    describe(&filter.context(), editor.services(), buffer);
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[1], 'x');
  }
  EXPECT_EQ(filter.Describe(), "");
  EXPECT_EQ(filter.Describe2(), "");
}

#ifndef _WIN32
// The native module file, loaded as the editor loads plugins, registers the same way
// and renders.
TEST(ScenarioRegistration, LoadsTheModuleFile) {
  runner::Editor editor;
  auto module = runner::LoadedModule::Load(editor, ModuleFilePath());
  ASSERT_EQ(module->init_result(), 0);
  EXPECT_NE(module->module_record().module_handle, nullptr);
  EXPECT_STREQ(module->filter().name, "Trackloom");
  EXPECT_EQ(module->filter().instance_size, kInstanceSize);
  EXPECT_EQ(module->api_version(), 8);

  testing::TempDir dir;
  {
    runner::FilterInstance filter(*module);
    filter.RunScriptLine(ConfigLine("", dir.path(), ""));
    auto frames = Frames(3);
    const runner::RenderReport report = filter.Render(*frames);
    EXPECT_TRUE(report.ok);
  }
  ExpectTrack(dir.File("VDN Track 01.wav"),
              {StartRecord(),
               ExpectedRecord(ExpectedBlock(1), nullptr), ExpectedRecord(ExpectedBlock(2), nullptr)});
}
#endif

TEST(ScenarioRegistration, MissingModuleFileIsAClearError) {
  runner::Editor editor;
  try {
    runner::LoadedModule::Load(editor, ModuleFilePath() + ".missing");
    ADD_FAILURE() << "loaded";
  } catch (const runner::Error& e) {
    EXPECT_NE(std::string(e.what()).find("cannot load module"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find(".missing"), std::string::npos) << e.what();
  }
}

#ifdef _WIN32
TEST(ScenarioRegistration, FileWithoutTheExportsIsAClearError) {
  runner::Editor editor;
  try {
    runner::LoadedModule::Load(editor, "C:\\windows\\system32\\kernel32.dll");
    ADD_FAILURE() << "loaded";
  } catch (const runner::Error& e) {
    EXPECT_NE(std::string(e.what()).find("VirtualdubFilterModuleInit2"), std::string::npos) << e.what();
  }
}
#endif

}  // namespace
}  // namespace trackloom::scenario
