#include "thread_state.h"

#include <chrono>
#include <new>

namespace pkdv::sys {

namespace {
std::uint32_t fork_count = 0;
}  // namespace

std::uint32_t forks_seen() {
  return fork_count;
}

void count_fork() {
  ++fork_count;
}

void retain(ThreadState* state) {
  state->references.fetch_add(1, std::memory_order_relaxed);
}

void release(ThreadState* state) {
  if (state->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete state;
}

bool queue_call(ThreadState* state, ApcRoutine routine, std::uintptr_t parameter) {
  bool wake = false;
  {
    std::lock_guard lock(state->mutex);
    if (state->ended) return false;
    try {
      state->calls.push_back({routine, parameter});
    } catch (const std::bad_alloc&) {
      return false;
    }
    state->queued.store(static_cast<std::uint32_t>(state->calls.size()), std::memory_order_release);
    wake = state->sleepers != 0;
  }
  if (wake) state->wake.notify_one();
  return true;
}

void mark_ended(ThreadState* state) {
  std::deque<QueuedCall> discarded;
  {
    std::lock_guard lock(state->mutex);
    state->ended = true;
    discarded.swap(state->calls);
    state->queued.store(0, std::memory_order_release);
  }
  state->wake.notify_all();
}

bool has_ended(ThreadState* state) {
  return state->ended.load(std::memory_order_acquire);
}

namespace {

// Blocks until a call is queued or the deadline passes; false on time-out.
// The caller holds the lock through `lock`.
bool sleep_for_calls(ThreadState* state, std::unique_lock<std::mutex>& lock,
                     std::uint32_t milliseconds) {
  ++state->sleepers;
  bool woken = true;
  if (milliseconds == kInfinite) {
    state->wake.wait(lock, [state] { return !state->calls.empty(); });
  } else {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    woken = state->wake.wait_until(lock, deadline, [state] { return !state->calls.empty(); });
  }
  --state->sleepers;
  return woken;
}

}  // namespace

std::uint32_t wait_running_calls(ThreadState* state, std::uint32_t milliseconds) {
  const std::uint32_t forks_before = forks_seen();
  std::unique_lock lock(state->mutex);
  if (state->calls.empty() && (milliseconds == 0 || !sleep_for_calls(state, lock, milliseconds))) {
    return 0;
  }
  for (;;) {
    const QueuedCall call = state->calls.front();
    state->calls.pop_front();
    state->queued.store(static_cast<std::uint32_t>(state->calls.size()), std::memory_order_relaxed);
    // Run unlocked: a call may queue further calls to this same thread, and
    // those still run in this wait.
    lock.unlock();
    call.routine(call.parameter);
    // A call that forked comes back, in the child, to the parent's copy of
    // this queue: its lock may be held by a thread the child does not have,
    // and its calls are the parent's. The wait ends here.
    if (forks_seen() != forks_before) return kWaitIoCompletion;
    if (state->queued.load(std::memory_order_acquire) == 0) return kWaitIoCompletion;
    lock.lock();
    if (state->calls.empty()) return kWaitIoCompletion;
  }
}

}  // namespace pkdv::sys
