// POSIX storage behind the platform's lock, event and thread-handle types.
#pragma once

#include <pthread.h>

#include <atomic>
#include <cstdint>

namespace pkdv::sys {

// A lock its owner may enter again, like a critical section: a futex word
// (0 free, 1 held, 2 held with sleepers) and the owner's pthread_t with its
// entry count. Lighter than a recursive pthread mutex, which the engine
// would otherwise pay for twice on every frame.
struct CriticalSection {
  std::atomic<std::uint32_t> word;
  std::atomic<pthread_t> owner;
  std::uint32_t depth;  // touched by the owner only
#ifdef PKDV_CHECK_LOCK_OWNER
  // The owner's serial number, never reused: tells the owner from a later
  // thread that has been given an ended owner's pthread_t.
  std::uint64_t owner_serial;
#endif
};

struct Event;
using EventHandle = Event*;

// A counted reference to one thread's state (queued calls, end flag).
struct ThreadState;
using ThreadHandle = ThreadState*;

// Something the poller can wait on until it is readable: a file descriptor.
using WaitableHandle = int;

}  // namespace pkdv::sys
