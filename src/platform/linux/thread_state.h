// The state behind a ThreadHandle: one thread's queue of asynchronous calls
// and whether that thread has ended. Shared by the thread itself, the registry
// of live threads and every open handle; freed when the last of them lets go.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

#include "platform/platform.h"

namespace pkdv::sys {

struct QueuedCall {
  ApcRoutine routine;
  std::uintptr_t parameter;
};

struct ThreadState {
  explicit ThreadState(ThreadId thread_id) : id(thread_id) {}

  const ThreadId id;
  // Starts with the reference that the registry holds for the live thread.
  std::atomic<std::uint32_t> references{1};
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<QueuedCall> calls;  // guarded by mutex
  // The length of `calls`, written under mutex: a wait that has just run a
  // call reads it without the lock to learn whether it is done.
  std::atomic<std::uint32_t> queued{0};
  // Waits blocked on `wake` (guarded by mutex): a call queued while the thread
  // is busy elsewhere needs no wake-up.
  std::uint32_t sleepers = 0;
  // Written under mutex; has_ended reads it without, since the engine asks on
  // every posted read.
  std::atomic<bool> ended{false};
  // The registry's list of live threads (guarded by the registry's lock).
  ThreadState* registry_previous = nullptr;
  ThreadState* registry_next = nullptr;
};

void retain(ThreadState* state);
// Drops one reference; the last one frees the state.
void release(ThreadState* state);

// Appends a call unless the thread has ended; false when it has (or no memory).
bool queue_call(ThreadState* state, ApcRoutine routine, std::uintptr_t parameter);
// Marks the thread ended and discards its queued calls, which never run.
void mark_ended(ThreadState* state);
bool has_ended(ThreadState* state);

// Forks seen by this process's line: count_fork is called in each forked
// child before it has a second thread.
std::uint32_t forks_seen();
void count_fork();

// The alertable wait on `state`'s queue, run by its own thread: see
// sys::wait_alertable.
std::uint32_t wait_running_calls(ThreadState* state, std::uint32_t milliseconds);

}  // namespace pkdv::sys
