// The registry of live threads, driven with made-up thread ids: thread end
// and unload cannot be arranged with real threads on demand.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "threads.h"

namespace pkdv::sys {
namespace {

std::atomic<int> calls_run{0};
void count_run(std::uintptr_t) {
  calls_run.fetch_add(1);
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { calls_run = 0; }
  void TearDown() override { registry.close(); }
  ThreadRegistry registry;
};

TEST_F(Registry, EndedThreadIsUnregisteredAndItsCallsDiscarded) {
  ThreadState* state = registry.register_thread(7);
  ThreadHandle handle = registry.retain_registered(state);
  ASSERT_TRUE(queue_call(handle, count_run, 0));
  registry.end_thread(state);

  EXPECT_TRUE(has_ended(handle));
  EXPECT_EQ(wait_running_calls(handle, 0), 0u);
  EXPECT_EQ(calls_run.load(), 0);
  release(handle);
}

TEST_F(Registry, CloseEndsEveryStateAndRefusesNewOnes) {
  ThreadState* state = registry.register_thread(1);
  ThreadState* other = registry.register_thread(2);
  ThreadHandle handle = registry.retain_registered(state);
  ThreadHandle other_handle = registry.retain_registered(other);
  registry.close();

  EXPECT_TRUE(has_ended(handle));
  EXPECT_TRUE(has_ended(other_handle));
  EXPECT_EQ(registry.retain_registered(state), nullptr);
  EXPECT_EQ(registry.register_thread(2), nullptr);
  registry.end_thread(state);  // a thread ending after unload changes nothing
  release(other_handle);
  release(handle);
}

std::atomic<bool> call_running{false};
std::atomic<bool> registry_closed{false};
void run_until_closed(std::uintptr_t) {
  call_running = true;
  while (!registry_closed) std::this_thread::yield();
}

// As at exit(): the states are released while their thread runs a call
// inside its wait; the wait's own reference keeps the state alive.
TEST_F(Registry, CloseWhileTheThreadRunsACallLetsTheWaitFinish) {
  ThreadState* state = registry.register_thread(5);
  ThreadState* held_by_wait = registry.retain_registered(state);
  ASSERT_TRUE(queue_call(state, run_until_closed, 0));
  std::uint32_t result = 0;
  std::thread waiter([&] {
    result = wait_running_calls(held_by_wait, 5000);
    release(held_by_wait);
  });
  while (!call_running) std::this_thread::yield();
  registry.close();
  registry_closed = true;
  waiter.join();
  EXPECT_EQ(result, kWaitIoCompletion);
}

}  // namespace
}  // namespace pkdv::sys
