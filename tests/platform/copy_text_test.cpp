// The bounded text copy, on both OSes.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/platform.h"

namespace pkdv::sys {
namespace {

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
