// The registry of live threads, driven by hand: a thread ends
// when its note is posted, as the C library posts it at the thread's end.
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
  ThreadRegistry registry;
};

TEST_F(Registry, EndedThreadIsSeenAtOnceAndDroppedWithItsCallsAtTheNextRegistration) {
  ThreadState* state = registry.register_thread();
  ThreadHandle handle = registry.retain_registered(state);
  ASSERT_TRUE(queue_call(handle, count_run, 0));
  sem_post(state->end_note);

  EXPECT_TRUE(has_ended(handle));
  EXPECT_FALSE(queue_call(handle, count_run, 0));
  ThreadState* next = registry.register_thread();
  EXPECT_EQ(wait_running_calls(handle, 0), 0u);
  EXPECT_EQ(calls_run.load(), 0);
  release(handle);
  registry.close(next->end_note, false);
}

// The unloading thread's note and those already posted are freed (the leak
// check of a sanitizer build sees the rest); a live thread's note outlives
// its state, since the C library may post it at any time after.
TEST_F(Registry, CloseEndsEveryStateAndLeavesOnlyLiveThreadsNotes) {
  ThreadState* ended = registry.register_thread();
  ThreadState* unloading = registry.register_thread();
  ThreadState* live = registry.register_thread();
  ThreadHandle ended_handle = registry.retain_registered(ended);
  ThreadHandle live_handle = registry.retain_registered(live);
  sem_post(ended->end_note);
  registry.close(unloading->end_note, false);

  EXPECT_TRUE(has_ended(ended_handle));
  EXPECT_TRUE(has_ended(live_handle));
  EXPECT_EQ(registry.retain_registered(live), nullptr);
  EXPECT_EQ(registry.register_thread(), nullptr);
  sem_t* const live_note = live->end_note;
  release(live_handle);
  release(ended_handle);
  EXPECT_EQ(sem_post(live_note), 0);  // the live thread ends after the unload
  free_end_note(live_note);
}

std::atomic<bool> call_running{false};
std::atomic<bool> registry_closed{false};
void run_until_closed(std::uintptr_t) {
  call_running = true;
  while (!registry_closed) std::this_thread::yield();
}

// As at exit(): the states are released while their thread runs a call
// inside its wait, which holds no reference of its own; told that a thread
// waits, the registry leaves the live states whole.
TEST_F(Registry, CloseWhileAThreadWaitsLeavesLiveStatesWhole) {
  ThreadState* state = registry.register_thread();
  ASSERT_TRUE(queue_call(state, run_until_closed, 0));
  std::uint32_t result = 0;
  std::thread waiter([&] { result = wait_running_calls(state, 5000); });
  while (!call_running) std::this_thread::yield();
  registry.close(nullptr, true);
  registry_closed = true;
  waiter.join();
  EXPECT_EQ(result, kWaitIoCompletion);
  EXPECT_TRUE(has_ended(state));
  sem_t* const note = state->end_note;
  release(state);  // the reference close left behind
  free_end_note(note);
}

}  // namespace
}  // namespace pkdv::sys
