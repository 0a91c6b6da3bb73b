// The constant filter record and the two exports, called directly with a stand-in
// for the editor's services.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "host/filter_module.h"

namespace trackloom {
namespace {

struct AddCall {
  HostModule* module;
  const FilterRecord* record;
  int size;
};
std::vector<AddCall> added;
std::vector<FilterRecord*> removed;
bool refuse = false;
FilterRecord editor_copy;

FilterRecord* TRACKLOOM_CDECL AddFilter(HostModule* module, const FilterRecord* record, int size) {
  added.push_back({module, record, size});
  if (refuse) return nullptr;
  std::memcpy(&editor_copy, record, sizeof editor_copy);
  editor_copy.module = module;
  return &editor_copy;
}

void TRACKLOOM_CDECL RemoveFilter(FilterRecord* filter) { removed.push_back(filter); }

TEST(FilterRecord, HoldsEveryValueOfTheTable) {
  const FilterRecord& r = kFilterRecord;
  EXPECT_EQ(r.next, nullptr);
  EXPECT_EQ(r.prev, nullptr);
  EXPECT_EQ(r.module, nullptr);
  EXPECT_STREQ(r.name, "Trackloom");
  EXPECT_STREQ(r.description, "Create track files for VideoNow Color players");
  EXPECT_STREQ(r.maker, "Mossgrave");
  EXPECT_EQ(r.private_data, nullptr);
  EXPECT_EQ(r.instance_size, sizeof(void*) == 8 ? 22200 : 22192);
  EXPECT_EQ(r.init, nullptr);
  EXPECT_EQ(r.deinit, nullptr);
  EXPECT_EQ(r.run, &FilterRun);
  EXPECT_EQ(r.params, &FilterParams);
  EXPECT_EQ(r.configure, &FilterConfigure);
  EXPECT_EQ(r.describe, &FilterDescribe);
  EXPECT_EQ(r.start, &FilterStart);
  EXPECT_EQ(r.end, &FilterEnd);
  EXPECT_EQ(r.script_object, &kScriptObject);
  EXPECT_EQ(r.script_string, &FilterScriptString);
  EXPECT_EQ(r.describe2, &FilterDescribe);
  EXPECT_EQ(r.serialize, nullptr);
  EXPECT_EQ(r.deserialize, nullptr);
  EXPECT_EQ(r.copy, nullptr);
}

TEST(ModuleExports, RegisterAndWithdraw) {
  struct Case {
    const char* name;
    bool refuse;
    int result;
    int api_version;
    int compatible_version;
  };
  const Case cases[] = {
      {"accepted", false, 0, 8, 4},
      // The versions keep what the caller had in them.
      {"refused", true, 1, -7, -9},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    added.clear();
    removed.clear();
    refuse = c.refuse;
    HostServices services{};
    services.add_filter = AddFilter;
    services.remove_filter = RemoveFilter;
    HostModule module{};
    int api = -7;
    int compatible = -9;
    EXPECT_EQ(VirtualdubFilterModuleInit2(&module, &services, &api, &compatible), c.result);
    EXPECT_EQ(api, c.api_version);
    EXPECT_EQ(compatible, c.compatible_version);
    ASSERT_EQ(added.size(), 1u);
    EXPECT_EQ(added[0].module, &module);
    EXPECT_EQ(added[0].record, &kFilterRecord);
    EXPECT_EQ(added[0].size, sizeof(void*) == 8 ? 176 : 88);

    VirtualdubFilterModuleDeinit(&module, &services);
    // The handle add-filter gave comes back: the refusal's null after a refusal.
    EXPECT_EQ(removed, std::vector<FilterRecord*>{c.refuse ? nullptr : &editor_copy});
    // A second withdrawal never hands the editor's freed copy back again.
    VirtualdubFilterModuleDeinit(&module, &services);
    EXPECT_EQ(std::count(removed.begin(), removed.end(), &editor_copy), c.refuse ? 0 : 1);
  }
}

TEST(FilterDescribe, BothSlotsLeaveAnEmptyStringAndParamsIsOne) {
  for (FilterDescribeFunction describe : {kFilterRecord.describe, kFilterRecord.describe2}) {
    char buffer[8] = "abcdefg";
    describe(nullptr, nullptr, buffer);
    EXPECT_EQ(std::string(buffer, sizeof buffer), std::string("\0bcdefg\0", 8));
  }
  EXPECT_EQ(FilterParams(nullptr, nullptr), 1);
}

}  // namespace
}  // namespace trackloom
