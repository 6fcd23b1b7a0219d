// The probes and the last error as the client sees them, on the platform's
// own version (the NT family on every lane).
#include "adapter_fixture.h"

namespace pkdv::testing {
namespace {

// The probes as a client that reads the whole 32-bit result register calls them.
std::uint32_t whole_result(uint8_t(PKDV_CALL* probe)()) {
  using Whole = std::uint32_t(PKDV_CALL*)();
  return reinterpret_cast<Whole>(reinterpret_cast<void (*)()>(probe))();
}

TEST(ProbesTest, TheDefaultPlatformIsTheNtLineAndEveryResultIsAWhole0Or1) {
  EXPECT_EQ(whole_result(PKDV_IsWindowsNT), 1u);
  EXPECT_EQ(whole_result(PKDV_IsWindows2000), 0u);
  EXPECT_EQ(whole_result(PKDV_IsWindows95), 0u);
}

TEST(ProbesTest, LastErrorIsTheCallingThreadsPlatformError) {
  sys::set_last_error(1234);
  EXPECT_EQ(PKDV_GetLastError(), 1234u);
  sys::set_last_error(0);
  EXPECT_EQ(PKDV_GetLastError(), 0u);
}

}  // namespace
}  // namespace pkdv::testing
