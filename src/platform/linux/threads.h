// The thread services' own parts, shared with the module entry point and the
// registry's tests: a thread's state, the registry of live threads, and their
// release at module unload and in a forked child.
#pragma once

#include <semaphore.h>

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

// The state behind a ThreadHandle: one thread's queue of asynchronous calls
// and whether that thread has ended. Shared by the thread itself, the registry
// of live threads and every open handle; freed when the last of them lets go.
struct ThreadState {
  explicit ThreadState(sem_t* note) : end_note(note) {}
  ~ThreadState();

  // Posted by the C library as the thread ends (see threads.cpp), so that no
  // code of this library runs then. Its own allocation: the unload leaves it
  // behind, for the C library, when its thread may be about to post it.
  sem_t* const end_note;
  // Set by the registry's close before it lets go of the state: the note
  // outlives it.
  bool leaves_note = false;
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
  // Set, under mutex, once the registry has seen the thread's end (or closed);
  // the note tells of the end before that. Read without the lock, since the
  // engine asks on every posted read.
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

// A note for a new thread's end, not yet posted; nullptr without memory.
sem_t* new_end_note();
void free_end_note(sem_t* note);

// The alertable wait on `state`'s queue, run by its own thread: see
// sys::wait_alertable.
std::uint32_t wait_running_calls(ThreadState* state, std::uint32_t milliseconds);

// The live threads that have a state. Module unload ends them all at once,
// so every registered state is kept on a list until its thread's end is seen:
// lazily, when another thread registers or at close, since nothing of this
// library runs as a thread ends.
class ThreadRegistry {
 public:
  // A new state for the calling thread, after dropping the states of threads
  // that have ended. Its first reference is the thread's own, given back once
  // its note is seen posted, or by withdraw or close. nullptr once closed or
  // without memory.
  ThreadState* register_thread();
  // Undoes register_thread for a state whose note no thread will post.
  void withdraw(ThreadState* state);
  // Drops the states of threads that have ended.
  void forget_ended();
  // A counted reference to `state`, which the caller's own thread registered;
  // nullptr once closed, when that state is no longer the registry's to share.
  ThreadState* retain_registered(ThreadState* state);
  // Ends every registered state, gives back the threads' references and
  // refuses further registration (module unload). The notes of threads seen
  // ended and `callers_note` (the unloading thread's own: it is not ending)
  // are freed; any other is left to the C library, which may be about to
  // post it. With `threads_waiting`, the live threads' states are left too.
  void close(sem_t* callers_note, bool threads_waiting);
  // In a child process just forked: the registered threads are the parent's
  // and the lock may be held by one of them. Both are dropped, unused and
  // unfreed, and the registry starts empty.
  void forget_after_fork();

 private:
  void unlink(ThreadState* state);
  // forget_ended, under mutex_.
  void drop_ended();
  // Unlinks `state`, marks it ended and gives back the thread's reference.
  void drop(ThreadState* state);

  std::mutex mutex_;
  // Linked through the states' own registry links, so that registering
  // allocates nothing beyond the state and its note, and the registry needs
  // no destructor
  // (see threads.cpp).
  ThreadState* first_ = nullptr;
  bool closed_ = false;
};

// Module unload, after module::unload: deletes the thread-end key, ends and
// releases every registered state, and leaves threads without state from then
// on. Handles still open stay valid until closed.
void release_thread_states();

// In a child process just forked: forgets the parent's threads (their states,
// notes and the locks they may hold); the forking thread, the only one here,
// registers anew, under its new id, when it next needs a state.
void forget_parent_threads_after_fork();

}  // namespace pkdv::sys
