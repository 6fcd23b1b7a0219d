// The calling thread's own state, and its release at module unload.
#pragma once

#include "thread_state.h"

namespace pkdv::sys {

// Registers the calling thread on first use; the thread keeps the state until
// it ends. nullptr after release_thread_states or without memory.
ThreadState* current_thread_state();
// As above, with a counted reference the caller must release; nullptr once
// the states have been released.
ThreadState* acquire_current_thread_state();

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
