// Critical sections and auto-reset events: our stand-ins for the Windows objects.
#include <atomic>
#include <cstdio>
#include <cstdlib>
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

#ifdef PKDV_CHECK_LOCK_OWNER
// Debug and sanitizer builds: a leave by a thread that does not own the
// section, or a section still held by a thread that has ended (whose
// pthread_t the system hands to a later thread, which would then enter as
// though it owned it), is a fault of the library that would otherwise show
// much later as a lost lock or two threads inside. It ends the process here.
[[gnu::tls_model("initial-exec")]] thread_local std::uint64_t own_serial = 0;
std::atomic<std::uint64_t> last_serial{0};

std::uint64_t serial_of_calling_thread() {
  if (own_serial == 0) own_serial = last_serial.fetch_add(1, std::memory_order_relaxed) + 1;
  return own_serial;
}

[[noreturn]] void misuse(const char* what) {
  std::fprintf(stderr, "pkdv: a critical section %s\n", what);
  std::abort();
}

void check_owner_on_entry(const CriticalSection* lock) {
  if (lock->owner_serial != serial_of_calling_thread())
    misuse("is still held by a thread that has ended");
}

void check_owner_on_leave(const CriticalSection* lock) {
  if (!owned_by(lock, pthread_self()) || lock->owner_serial != serial_of_calling_thread())
    misuse("is left by a thread that does not own it");
}

void become_owner(CriticalSection* lock, pthread_t self) {
  lock->owner.store(self, std::memory_order_relaxed);
  lock->owner_serial = serial_of_calling_thread();
  lock->depth = 1;
}
#else
void check_owner_on_entry(const CriticalSection*) {}
void check_owner_on_leave(const CriticalSection*) {}

void become_owner(CriticalSection* lock, pthread_t self) {
  lock->owner.store(self, std::memory_order_relaxed);
  lock->depth = 1;
}
#endif

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
    check_owner_on_entry(lock);
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
  check_owner_on_leave(lock);
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
