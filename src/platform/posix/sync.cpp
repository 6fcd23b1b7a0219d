// Critical sections and auto-reset events: our stand-ins for the Windows objects.
#include <atomic>
#include <linux/futex.h>
#include <new>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/platform.h"

namespace pkdv::sys {

namespace {

constexpr std::uint32_t kFree = 0;
constexpr std::uint32_t kHeld = 1;
constexpr std::uint32_t kHeldWithSleepers = 2;

// The lock's word is private to this process, so the lighter private futex
// operations serve.
void sleep_while_held_with_sleepers(std::atomic<std::uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAIT_PRIVATE, kHeldWithSleepers,
          nullptr, nullptr, 0);
}

void wake_one_sleeper(std::atomic<std::uint32_t>* word) {
  syscall(SYS_futex, reinterpret_cast<std::uint32_t*>(word), FUTEX_WAKE_PRIVATE, 1, nullptr,
          nullptr, 0);
}

// Only the owner itself can find its own id here: every other thread sees
// either another owner or none.
bool owned_by(const CriticalSection* lock, pthread_t self) {
  return lock->owner.load(std::memory_order_relaxed) == self;
}

void become_owner(CriticalSection* lock, pthread_t self) {
  lock->owner.store(self, std::memory_order_relaxed);
  lock->depth = 1;
}

// Contended: marks that a sleeper may wait, and sleeps until the word is
// found free (then takes it still marked, as other sleepers may remain). Kept
// out of line so that the uncontended entry stays short.
[[gnu::noinline]] void wait_for(CriticalSection* lock) {
  while (lock->word.exchange(kHeldWithSleepers, std::memory_order_acquire) != kFree) {
    sleep_while_held_with_sleepers(&lock->word);
  }
}

}  // namespace

void lock_init(CriticalSection* lock) {
  lock->word.store(kFree, std::memory_order_relaxed);
  lock->owner.store(pthread_t{}, std::memory_order_relaxed);
  lock->depth = 0;
}

void lock_delete(CriticalSection*) {}

bool lock_try_enter(CriticalSection* lock) {
  const pthread_t self = pthread_self();
  if (owned_by(lock, self)) {
    ++lock->depth;
    return true;
  }
  std::uint32_t seen = kFree;
  if (!lock->word.compare_exchange_strong(seen, kHeld, std::memory_order_acquire,
                                          std::memory_order_relaxed)) {
    return false;
  }
  become_owner(lock, self);
  return true;
}

void lock_enter(CriticalSection* lock) {
  if (lock_try_enter(lock)) return;
  wait_for(lock);
  become_owner(lock, pthread_self());
}

void lock_leave(CriticalSection* lock) {
  if (--lock->depth != 0) return;
  lock->owner.store(pthread_t{}, std::memory_order_relaxed);
  if (lock->word.exchange(kFree, std::memory_order_release) == kHeldWithSleepers) {
    wake_one_sleeper(&lock->word);
  }
}

// Only the zero time-out wait is offered, so an auto-reset event is a flag
// that an exchange tests and clears in one step: of racing takers exactly one
// sees it set.
struct Event {
  std::atomic<bool> signalled{true};
};

EventHandle event_create_signalled() {
  return new (std::nothrow) Event;
}

bool event_try_take(EventHandle event) {
  return event && event->signalled.exchange(false, std::memory_order_acq_rel);
}

void event_set(EventHandle event) {
  if (event) event->signalled.store(true, std::memory_order_release);
}

void event_close(EventHandle event) {
  delete event;
}

}  // namespace pkdv::sys
