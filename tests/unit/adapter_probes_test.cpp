// The probes as the client sees them, on the platform's own version report
// (the NT family on every lane; the POSIX stand-in reports NT 10.0).
#include "adapter_fixture.h"

namespace pkdv::testing {
namespace {

TEST(ProbesTest, TheDefaultPlatformIsTheNtLineAndEveryResultIsAWhole0Or1) {
  EXPECT_EQ(whole_result(PKDV_IsWindowsNT), 1u);
  EXPECT_EQ(whole_result(PKDV_IsWindows2000), 0u);
  EXPECT_EQ(whole_result(PKDV_IsWindows95), 0u);
}

}  // namespace
}  // namespace pkdv::testing
