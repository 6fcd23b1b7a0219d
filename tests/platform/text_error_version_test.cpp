// The version report, each thread's last error and the bounded text copy, on
// both OSes.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "platform/platform.h"

namespace pkdv::sys {
namespace {

TEST(Version, ReportsAnNtLineVersion) {
  VersionInfo version{};
  ASSERT_TRUE(query_version(&version));
  EXPECT_EQ(version.platform_id, 2u);
  EXPECT_GE(version.major, 4u);
}

// Each side checks while the other thread still runs: starting and joining a
// thread may themselves change the caller's last error on Windows.
TEST(LastError, BelongsToEachThread) {
  std::atomic<int> step{0};
  std::uint32_t seen_at_start = 1, seen_after_main_set = 0;
  std::thread other([&] {
    seen_at_start = last_error();
    set_last_error(kErrorNotSupported);
    step = 1;
    while (step.load() != 2) std::this_thread::yield();
    seen_after_main_set = last_error();
    step = 3;
  });
  while (step.load() != 1) std::this_thread::yield();
  set_last_error(kErrorInvalidHandle);
  step = 2;
  while (step.load() != 3) std::this_thread::yield();
  EXPECT_EQ(last_error(), kErrorInvalidHandle);
  other.join();
  EXPECT_EQ(seen_at_start, 0u);
  EXPECT_EQ(seen_after_main_set, kErrorNotSupported);
}

TEST(CopyText, KeepsLimitMinusOneCharactersAndTerminates) {
  const char* long_name = "0123456789012345678901234567890123456789";
  char text[40];
  std::memset(text, '#', sizeof text);
  copy_text(text, long_name, 30);
  EXPECT_STREQ(text, "01234567890123456789012345678");
  EXPECT_EQ(text[30], '#') << "wrote past the limit";

  copy_text(text, "short", 30);
  EXPECT_STREQ(text, "short");

  copy_text(text, "abc", 1);
  EXPECT_STREQ(text, "");

  copy_text(text, nullptr, 30);
  EXPECT_STREQ(text, "");
}

TEST(CopyText, NoRoomWritesNothing) {
  char text[4] = {'#', '#', '#', '#'};
  copy_text(text, "abc", 0);
  copy_text(text, "abc", -5);
  EXPECT_EQ(std::memcmp(text, "####", 4), 0);
}

}  // namespace
}  // namespace pkdv::sys
