// The live threads that have a state. Module unload ends them all at once,
// so every registered state is kept on a list until its thread ends.
#pragma once

#include <mutex>

#include "thread_state.h"

namespace pkdv::sys {

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
  // (see current_thread.cpp).
  ThreadState* first_ = nullptr;
  bool closed_ = false;
};

}  // namespace pkdv::sys
