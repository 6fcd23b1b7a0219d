// Critical sections and auto-reset events behave as the Windows originals, on both OSes.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/platform.h"

namespace pkdv::sys {
namespace {

bool try_enter_elsewhere(CriticalSection* lock) {
  bool entered = false;
  std::thread([&] {
    entered = lock_try_enter(lock);
    if (entered) lock_leave(lock);
  }).join();
  return entered;
}

TEST(CriticalSection, OwnerReentersAndOthersWaitForTheLastLeave) {
  CriticalSection lock;
  lock_init(&lock);
  lock_enter(&lock);
  ASSERT_TRUE(lock_try_enter(&lock));
  lock_enter(&lock);
  EXPECT_FALSE(try_enter_elsewhere(&lock));
  lock_leave(&lock);
  lock_leave(&lock);
  EXPECT_FALSE(try_enter_elsewhere(&lock)) << "still held once by its owner";
  lock_leave(&lock);
  EXPECT_TRUE(try_enter_elsewhere(&lock));
  lock_delete(&lock);
}

// Debug and sanitizer builds end the process, with a message, where a
// critical section is misused: left by a thread that does not own it, or
// still held by a thread that has ended (the system gives that thread's id to
// a later thread, which would otherwise enter it as its owner).
TEST(CriticalSectionDeathTest, MisuseEndsTheProcessInCheckedBuilds) {
#ifndef PKDV_CHECK_LOCK_OWNER
  GTEST_SKIP() << "checked in debug and sanitizer builds only";
#else
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  CriticalSection lock;
  lock_init(&lock);
  EXPECT_DEATH(lock_leave(&lock), "left by a thread that does not own it");
  EXPECT_DEATH(
      {
        lock_enter(&lock);
        std::thread([&] { lock_leave(&lock); }).join();
      },
      "left by a thread that does not own it");
  EXPECT_DEATH(
      {
        std::thread([&] { lock_enter(&lock); }).join();
        for (int i = 0; i < 100; ++i) std::thread([&] { lock_try_enter(&lock); }).join();
      },
      "still held by a thread that has ended");
  lock_delete(&lock);
#endif
}

// Threads that keep meeting at the lock must each get in, one at a time,
// and every leave must wake a waiter: a lost wake-up hangs this test.
TEST(CriticalSection, ContendedEntriesAreExclusiveAndNoneIsLeftWaiting) {
  constexpr int kThreads = 4;
  constexpr int kEntries = 20000;
  CriticalSection lock;
  lock_init(&lock);
  int inside = 0;
  long long total = 0;
  std::atomic<bool> overlapped{false};
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      for (int i = 0; i < kEntries; ++i) {
        lock_enter(&lock);
        lock_enter(&lock);  // the owner's own re-entry, as nested guards do
        if (++inside != 1) overlapped = true;
        ++total;
        // Now and then the owner is descheduled inside, so the others queue
        // up and sleep rather than only spin past each other.
        if (i % 64 == 0) std::this_thread::yield();
        --inside;
        lock_leave(&lock);
        lock_leave(&lock);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(total, static_cast<long long>(kThreads) * kEntries);
  lock_delete(&lock);
}

TEST(AutoResetEvent, StartsSignalledAndIsTakenOncePerSet) {
  EventHandle event = event_create_signalled();
  ASSERT_NE(event, nullptr);
  EXPECT_TRUE(event_try_take(event));
  EXPECT_FALSE(event_try_take(event));
  event_set(event);
  event_set(event);  // setting a set event does not count twice
  EXPECT_TRUE(event_try_take(event));
  EXPECT_FALSE(event_try_take(event));
  event_close(event);
}

// Takers race for the event while it is set again and again; every set must
// be won exactly once.
TEST(AutoResetEvent, RacingTakersWinExactlyOncePerSet) {
  constexpr int kTakers = 4;
  constexpr int kSets = 2000;
  EventHandle event = event_create_signalled();
  ASSERT_TRUE(event_try_take(event));
  std::atomic<int> takes{0};
  std::atomic<bool> done{false};
  std::vector<std::thread> takers;
  for (int i = 0; i < kTakers; ++i) {
    takers.emplace_back([&] {
      while (!done.load()) {
        if (event_try_take(event)) {
          takes.fetch_add(1);
        } else {
          std::this_thread::yield();
        }
      }
    });
  }
  int overtaken_at = 0;
  for (int set = 1; set <= kSets && !overtaken_at; ++set) {
    event_set(event);
    while (takes.load() < set) std::this_thread::yield();
    if (takes.load() != set) overtaken_at = set;
  }
  done = true;
  for (auto& taker : takers) taker.join();
  EXPECT_EQ(overtaken_at, 0) << "a set was taken twice";
  EXPECT_EQ(takes.load(), kSets);
  event_close(event);
}

}  // namespace
}  // namespace pkdv::sys
