// Every platform the version query can report, through the POSIX stand-in's
// version hook: what each probe answers and the form in which completion
// routines are then called.
#include <optional>

#include "adapter_fixture.h"
#include "test_hooks.h"

namespace pkdv::testing {
namespace {

struct Platform {
  const char* label;
  std::optional<sys::VersionInfo> version;  // none: the query fails
  std::uint32_t nt, windows_2000, windows_95;
  int routine_arguments;  // 0: the routine is not called
};

const Platform kPlatforms[] = {
    {"NT 5.1", sys::VersionInfo{2, 5, 1}, 1, 0, 0, 3},
    {"NT 5.0", sys::VersionInfo{2, 5, 0}, 0, 1, 0, 3},
    {"NT 4.0", sys::VersionInfo{2, 4, 0}, 1, 0, 0, 3},
    {"95 line 4.10", sys::VersionInfo{1, 4, 10}, 0, 0, 1, 1},
    {"id 0, 3.10", sys::VersionInfo{0, 3, 10}, 1, 0, 0, 3},
    {"95 line claiming 5.0", sys::VersionInfo{1, 5, 0}, 0, 0, 1, 1},
    {"query fails", std::nullopt, 0, 0, 0, 0},
};

class ProbeTableTest : public AdapterTest {
 protected:
  void TearDown() override {
    sys::reset_version_for_testing();
    AdapterTest::TearDown();
  }
  static void report(const std::optional<sys::VersionInfo>& version) {
    sys::set_version_for_testing(version ? &*version : nullptr);
  }
};

TEST_F(ProbeTableTest, EachPlatformAnswersItsProbesAndPicksItsRoutineForm) {
  AdapterHandle adapter = open_adapter("eth0");
  const std::uint8_t frame[4] = {};
  for (const Platform& platform : kPlatforms) {
    SCOPED_TRACE(platform.label);
    report(platform.version);
    EXPECT_EQ(whole_result(PKDV_IsWindowsNT), platform.nt);
    EXPECT_EQ(whole_result(PKDV_IsWindows2000), platform.windows_2000);
    EXPECT_EQ(whole_result(PKDV_IsWindows95), platform.windows_95);

    routines_.calls.clear();
    std::uint32_t sent = 0;
    PKDV_COMPLETION_ROUTINE routine =
        platform.routine_arguments == 1 ? routine_95_as_passed() : record_nt_form;
    EXPECT_EQ(PKDV_PacketSendEx(adapter, frame, sizeof frame, &sent, 0x5A, routine),
              NDIS_STATUS_SUCCESS);
    if (platform.routine_arguments == 0) {
      EXPECT_TRUE(routines_.calls.empty());
      continue;
    }
    ASSERT_EQ(routines_.calls.size(), 1u);
    EXPECT_EQ(routines_.calls[0].arguments, platform.routine_arguments);
    EXPECT_EQ(routines_.calls[0].context, 0x5Au);
    if (platform.routine_arguments == 3) {
      EXPECT_EQ(routines_.calls[0].status, NDIS_STATUS_SUCCESS);
      EXPECT_EQ(routines_.calls[0].count, 4u);
    }
  }
}

}  // namespace
}  // namespace pkdv::testing
