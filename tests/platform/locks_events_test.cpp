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
