// The thread services' own parts, shared with the module entry point and the
// registry's tests: a thread's state, the registry of live threads, and their
// release at module unload and in a forked child.
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
bool has_ended(ThreadState* state);

// The alertable wait on `state`'s queue, run by its own thread: see
// sys::wait_alertable.
std::uint32_t wait_running_calls(ThreadState* state, std::uint32_t milliseconds);

// The live threads that have a state. Module unload ends them all at once,
// so every registered state is kept on a list until its thread ends.
class ThreadRegistry {
 public:
  // A new state for the calling thread, known by `id`. Its first reference
  // is the thread's own, given back by end_thread or close. nullptr once
  // closed or without memory.
  ThreadState* register_thread(ThreadId id);
  // The thread has ended: marks its state ended, drops it from the registry and
  // gives back the thread's reference. Does nothing once closed (close has
  // released the state already).
  void end_thread(ThreadState* state);
  // A counted reference to `state`, which the caller's own thread registered;
  // nullptr once closed, when that state is no longer the registry's to share.
  ThreadState* retain_registered(ThreadState* state);
  // Ends every registered state, gives back the threads' references and
  // refuses further registration (module unload).
  void close();
  // In a child process just forked: the registered threads are the parent's
  // and the lock may be held by one of them. Both are dropped, unused and
  // unfreed, and the registry starts empty.
  void forget_after_fork();

 private:
  void unlink(ThreadState* state);

  std::mutex mutex_;
  // Linked through the states' own registry links, so that registering
  // allocates nothing beyond the state and the registry needs no destructor
  // (see threads.cpp).
  ThreadState* first_ = nullptr;
  bool closed_ = false;
};

// Module unload, after module::unload: deletes the thread-exit key so no
// thread that ends later calls into this library's (by then unmapped) code,
// ends and releases every registered state, and leaves threads without state
// from then on. Handles still open stay valid until closed.
void release_thread_states();

// In a child process just forked: forgets the parent's threads (their states
// and the locks they may hold); the forking thread, the only one here,
// registers anew, under its new id, when it next needs a state.
void forget_parent_threads_after_fork();

}  // namespace pkdv::sys
