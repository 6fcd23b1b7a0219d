// The poller's thread: pauses that end on a stop request, bounded stops.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>

#include "platform/platform.h"

namespace pkdv::sys {
namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> passes{0};
std::atomic<bool> pausing{false};
std::atomic<bool> saw_stop{false};
std::atomic<ThreadId> body_thread{0};

void pass_until_stopped(Worker* self) {
  body_thread = current_thread_id();
  do {
    passes.fetch_add(1);
    pausing = true;
  } while (!worker_pause(self, 5));
  saw_stop = true;
}

void one_long_pause(Worker* self) {
  pausing = true;
  saw_stop = worker_pause(self, 10000);
}

void return_at_once(Worker*) {
  passes.fetch_add(1);
}

class WorkerThread : public ::testing::Test {
 protected:
  void SetUp() override {
    passes = 0;
    pausing = false;
    saw_stop = false;
  }
};

TEST_F(WorkerThread, PausesTimeOutUntilAStopIsAsked) {
  Worker* worker = worker_start(pass_until_stopped);
  ASSERT_NE(worker, nullptr);
  while (passes.load() < 3) sleep_ms(1);
  worker_stop(worker, false);
  EXPECT_TRUE(saw_stop);
  EXPECT_NE(body_thread.load(), current_thread_id());
}

TEST_F(WorkerThread, StopCutsAPauseShort) {
  Worker* worker = worker_start(one_long_pause);
  ASSERT_NE(worker, nullptr);
  while (!pausing) sleep_ms(1);
  const auto start = Clock::now();
  worker_stop(worker, false);
  EXPECT_LT(Clock::now() - start, std::chrono::milliseconds(200));
  EXPECT_TRUE(saw_stop);
}

TEST_F(WorkerThread, StopAfterTheBodyReturnedOnItsOwn) {
  Worker* worker = worker_start(return_at_once);
  ASSERT_NE(worker, nullptr);
  while (passes.load() == 0) sleep_ms(1);
  worker_stop(worker, false);
  EXPECT_EQ(passes.load(), 1);
}

}  // namespace
}  // namespace pkdv::sys
