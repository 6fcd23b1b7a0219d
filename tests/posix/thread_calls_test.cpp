// POSIX only: threads opened by id (the id map), and the exported alertable
// wait that stands in for SleepEx. The calls' contract itself is in
// tests/platform/thread_calls_test.cpp.
#include <gtest/gtest.h>

#include <vector>

#include "pkdv.h"
#include "platform/platform.h"
#include "call_log.h"
#include "step_thread.h"

namespace pkdv::sys {
namespace {

TEST(ThreadById, AnExportedWaitIsTheSameWait) {
  take_runs();
  ThreadHandle self = thread_open_current();
  EXPECT_EQ(PKDV_WaitAlertable(0), 0u);
  ASSERT_TRUE(thread_queue_apc(self, record_run, 9));
  EXPECT_EQ(PKDV_WaitAlertable(PKDV_INFINITE), PKDV_WAIT_IO_COMPLETION);
  EXPECT_EQ(take_runs().size(), 1u);
  thread_close(self);
}

TEST(ThreadById, OpensOnceTheThreadHasIdentifiedItselfAndNotAfterItEnds) {
  StepThread target;
  ThreadId target_id = 0;
  target.run([&] { target_id = current_thread_id(); });
  ASSERT_NE(target_id, current_thread_id());

  ThreadHandle handle = thread_open(target_id);
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(thread_has_ended(handle));
  ASSERT_TRUE(thread_queue_apc(handle, record_run, 5));
  std::uint32_t result = 0;
  target.run([&] { result = wait_alertable(0); });
  EXPECT_EQ(result, kWaitIoCompletion);
  EXPECT_EQ(take_runs(), (std::vector<CallRun>{{5, target_id}}));
  thread_close(handle);

  EXPECT_EQ(thread_open(0), nullptr) << "0 is never a thread id";
  target.finish();
  EXPECT_EQ(thread_open(target_id), nullptr) << "an ended thread is no longer found";
}

}  // namespace
}  // namespace pkdv::sys
