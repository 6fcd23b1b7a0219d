#include "thread_registry.h"

#include <new>

namespace pkdv::sys {

ThreadState* ThreadRegistry::register_thread(ThreadId id) {
  std::lock_guard lock(mutex_);
  if (closed_) return nullptr;
  ThreadState* state = nullptr;
  try {
    // Not a nothrow new: the state's queue of calls allocates in its
    // constructor, and that failure must not escape either.
    state = new ThreadState(id);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
  state->registry_next = first_;
  if (first_) first_->registry_previous = state;
  first_ = state;
  return state;
}

void ThreadRegistry::end_thread(ThreadState* state) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  unlink(state);
  mark_ended(state);
  release(state);
}

ThreadState* ThreadRegistry::retain_registered(ThreadState* state) {
  std::lock_guard lock(mutex_);
  if (closed_ || !state) return nullptr;
  retain(state);
  return state;
}

void ThreadRegistry::close() {
  std::lock_guard lock(mutex_);
  closed_ = true;
  while (ThreadState* state = first_) {
    unlink(state);
    mark_ended(state);
    release(state);
  }
}

void ThreadRegistry::forget_after_fork() {
  new (&mutex_) std::mutex;
  first_ = nullptr;
}

void ThreadRegistry::unlink(ThreadState* state) {
  (state->registry_previous ? state->registry_previous->registry_next : first_) =
      state->registry_next;
  if (state->registry_next) state->registry_next->registry_previous = state->registry_previous;
  state->registry_previous = state->registry_next = nullptr;
}

}  // namespace pkdv::sys
