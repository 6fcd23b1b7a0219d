#include "thread_registry.h"

#include <new>

namespace pkdv::sys {

ThreadState* ThreadRegistry::register_thread(ThreadId id) {
  std::lock_guard lock(mutex_);
  if (closed_) return nullptr;
  if (!live_) live_ = new (std::nothrow) std::map<ThreadId, ThreadState*>;
  if (!live_) return nullptr;
  ThreadState* state = nullptr;
  try {
    // Not a nothrow new: the state's queue of calls allocates in its
    // constructor, and that failure must not escape either.
    state = new ThreadState(id);
    auto [entry, inserted] = live_->try_emplace(id, state);
    if (!inserted) {
      // The thread that held this id is gone without having told us. Its
      // state stays ended for the handles opened on it; the reference of that
      // thread is left to its end_thread, should it still come.
      mark_ended(entry->second);
      entry->second = state;
    }
  } catch (const std::bad_alloc&) {
    delete state;
    return nullptr;
  }
  return state;
}

void ThreadRegistry::end_thread(ThreadState* state) {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  const auto entry = live_->find(state->id);
  if (entry != live_->end() && entry->second == state) live_->erase(entry);
  end_locked(state);
}

ThreadState* ThreadRegistry::open(ThreadId id) {
  std::lock_guard lock(mutex_);
  if (closed_ || !live_) return nullptr;
  const auto entry = live_->find(id);
  if (entry == live_->end()) return nullptr;
  retain(entry->second);
  return entry->second;
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
  if (!live_) return;
  for (const auto& [id, state] : *live_) end_locked(state);
  delete live_;
  live_ = nullptr;
}

void ThreadRegistry::forget_after_fork() {
  new (&mutex_) std::mutex;
  live_ = nullptr;
}

void ThreadRegistry::end_locked(ThreadState* state) {
  mark_ended(state);
  release(state);
}

}  // namespace pkdv::sys
