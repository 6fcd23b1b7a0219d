// POSIX only: the version reported (NT 10) and the hook that lets a test
// choose another. The rest of the contract is in tests/platform.
#include <gtest/gtest.h>

#include "platform/platform.h"
#include "test_hooks.h"

namespace pkdv::sys {
namespace {

TEST(Version, ReportsNtTenUnlessATestChoosesOtherwise) {
  VersionInfo version{};
  ASSERT_TRUE(query_version(&version));
  EXPECT_EQ(version.platform_id, 2u);
  EXPECT_EQ(version.major, 10u);
  EXPECT_EQ(version.minor, 0u);

  const VersionInfo windows98{1, 4, 10};
  set_version_for_testing(&windows98);
  ASSERT_TRUE(query_version(&version));
  EXPECT_EQ(version.platform_id, 1u);
  EXPECT_EQ(version.major, 4u);
  EXPECT_EQ(version.minor, 10u);

  set_version_for_testing(nullptr);
  EXPECT_FALSE(query_version(&version));

  reset_version_for_testing();
  ASSERT_TRUE(query_version(&version));
  EXPECT_EQ(version.platform_id, 2u);
  EXPECT_EQ(version.major, 10u);
}

}  // namespace
}  // namespace pkdv::sys
