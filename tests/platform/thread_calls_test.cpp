// Thread handles, queued calls and the alertable wait, through the platform
// API with real threads, on both OSes.
#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "step_thread.h"

namespace pkdv::sys {
namespace {

// What the queued calls saw when they ran: their parameter and the thread
// they ran in, in the order they ran.
using CallRun = std::pair<std::uintptr_t, ThreadId>;
std::mutex runs_mutex;
std::vector<CallRun> runs;

void PKDV_CALLBACK record_run(std::uintptr_t parameter) {
  std::lock_guard lock(runs_mutex);
  runs.emplace_back(parameter, current_thread_id());
}

std::vector<CallRun> take_runs() {
  std::lock_guard lock(runs_mutex);
  return std::exchange(runs, {});
}

using Clock = std::chrono::steady_clock;

long long elapsed_ms(Clock::time_point since) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}

class ThreadCalls : public ::testing::Test {
 protected:
  void SetUp() override { take_runs(); }
};

TEST_F(ThreadCalls, RunInTheTargetThreadInOrderOnlyDuringAnAlertableWait) {
  StepThread target;
  ThreadHandle handle = nullptr;
  ThreadId target_id = 0;
  target.run([&] {
    handle = thread_open_current();
    target_id = current_thread_id();
  });
  ASSERT_NE(handle, nullptr);
  for (std::uintptr_t parameter : {1, 2, 3}) {
    ASSERT_TRUE(thread_queue_apc(handle, record_run, parameter));
  }

  target.run([] { sleep_ms(20); });
  EXPECT_TRUE(take_runs().empty()) << "a plain sleep ran queued calls";

  std::uint32_t result = 0;
  target.run([&] { result = wait_alertable(kInfinite); });
  EXPECT_EQ(result, kWaitIoCompletion);
  const std::vector<CallRun> expected{{1, target_id}, {2, target_id}, {3, target_id}};
  EXPECT_EQ(take_runs(), expected);

  target.run([&] { result = wait_alertable(0); });
  EXPECT_EQ(result, 0u) << "the calls ran once only";
  thread_close(handle);
}

TEST_F(ThreadCalls, WaitTimesOutWithNothingQueued) {
  const auto start = Clock::now();
  EXPECT_EQ(wait_alertable(30), 0u);
  EXPECT_GE(elapsed_ms(start), 30);
  EXPECT_EQ(wait_alertable(0), 0u);
}

TEST_F(ThreadCalls, QueuedCallEndsAWaitAtOnce) {
  ThreadHandle handle = thread_open_current();
  ASSERT_NE(handle, nullptr);
  std::thread queuer([handle] {
    sleep_ms(20);
    thread_queue_apc(handle, record_run, 7);
  });
  const auto start = Clock::now();
  EXPECT_EQ(wait_alertable(5000), kWaitIoCompletion);
  EXPECT_LT(elapsed_ms(start), 1000);
  queuer.join();
  EXPECT_EQ(take_runs().size(), 1u);
  thread_close(handle);
}

ThreadHandle chained_target = nullptr;

void PKDV_CALLBACK queue_follow_up(std::uintptr_t parameter) {
  record_run(parameter);
  thread_queue_apc(chained_target, record_run, parameter + 1);
}

TEST_F(ThreadCalls, CallQueuedByACallRunsInTheSameWait) {
  chained_target = thread_open_current();
  ASSERT_TRUE(thread_queue_apc(chained_target, queue_follow_up, 10));
  EXPECT_EQ(wait_alertable(0), kWaitIoCompletion);
  const auto seen = take_runs();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].first, 10u);
  EXPECT_EQ(seen[1].first, 11u);
  thread_close(chained_target);
}

TEST_F(ThreadCalls, EndedThreadDropsItsCallsAndRefusesNewOnes) {
  StepThread target;
  ThreadHandle handle = nullptr;
  target.run([&] { handle = thread_open_current(); });
  ASSERT_TRUE(thread_queue_apc(handle, record_run, 1));
  EXPECT_FALSE(thread_has_ended(handle));
  target.finish();

  EXPECT_TRUE(thread_has_ended(handle));
  EXPECT_FALSE(thread_queue_apc(handle, record_run, 2));
  EXPECT_TRUE(take_runs().empty()) << "a call queued to an ended thread ran";
  thread_close(handle);
}

}  // namespace
}  // namespace pkdv::sys
