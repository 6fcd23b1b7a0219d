// POSIX only: the exported alertable wait that stands in for SleepEx is the
// platform's own wait. The calls' contract itself is in
// tests/platform/thread_calls_test.cpp.
#include <gtest/gtest.h>

#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv::sys {
namespace {

int calls_run = 0;
void PKDV_CALLBACK count_run(std::uintptr_t) {
  ++calls_run;
}

TEST(ExportedWait, IsTheSameWait) {
  ThreadHandle self = thread_open_current();
  EXPECT_EQ(PKDV_WaitAlertable(0), 0u);
  ASSERT_TRUE(thread_queue_apc(self, count_run, 9));
  EXPECT_EQ(PKDV_WaitAlertable(PKDV_INFINITE), PKDV_WAIT_IO_COMPLETION);
  EXPECT_EQ(calls_run, 1);
  thread_close(self);
}

}  // namespace
}  // namespace pkdv::sys
