#include "thread_state.h"

#include <chrono>
#include <new>

namespace pkdv::sys {

void retain(ThreadState* state) {
  state->references.fetch_add(1, std::memory_order_relaxed);
}

void release(ThreadState* state) {
  if (state->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete state;
}

bool queue_call(ThreadState* state, ApcRoutine routine, std::uintptr_t parameter) {
  {
    std::lock_guard lock(state->mutex);
    if (state->ended) return false;
    try {
      state->calls.push_back({routine, parameter});
    } catch (const std::bad_alloc&) {
      return false;
    }
  }
  state->wake.notify_one();
  return true;
}

void mark_ended(ThreadState* state) {
  std::deque<QueuedCall> discarded;
  {
    std::lock_guard lock(state->mutex);
    state->ended = true;
    discarded.swap(state->calls);
  }
  state->wake.notify_all();
}

bool has_ended(ThreadState* state) {
  return state->ended.load(std::memory_order_acquire);
}

std::uint32_t wait_running_calls(ThreadState* state, std::uint32_t milliseconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  bool ran_any = false;
  std::unique_lock lock(state->mutex);
  for (;;) {
    if (!state->calls.empty()) {
      const QueuedCall call = state->calls.front();
      state->calls.pop_front();
      // Run unlocked: a call may queue further calls to this same thread, and
      // those still run in this wait.
      lock.unlock();
      call.routine(call.parameter);
      lock.lock();
      ran_any = true;
    } else if (ran_any) {
      return kWaitIoCompletion;
    } else if (milliseconds == kInfinite) {
      state->wake.wait(lock);
    } else if (state->wake.wait_until(lock, deadline) == std::cv_status::timeout &&
               state->calls.empty()) {
      return 0;
    }
  }
}

}  // namespace pkdv::sys
