// POSIX storage behind the platform's lock, event and thread-handle types.
#pragma once

#include <pthread.h>

namespace pkdv::sys {

// A recursive pthread mutex, like a critical section its owner may enter again.
struct CriticalSection {
  pthread_mutex_t mutex;
};

struct Event;
using EventHandle = Event*;

// A counted reference to one thread's state (queued calls, end flag).
struct ThreadState;
using ThreadHandle = ThreadState*;

}  // namespace pkdv::sys
