#include "current_thread.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <new>
#include <type_traits>

#include "thread_registry.h"

namespace pkdv::sys {

namespace {

// At exit() the static destructors run while client threads still call in;
// nothing here may be torn down by them, so nothing here has a destructor.
ThreadRegistry registry;
static_assert(std::is_trivially_destructible_v<ThreadRegistry>);

// A thread's end is seen through a key destructor, not a thread_local object:
// a library that registered thread_local destructors can never be unloaded.
std::mutex key_mutex;
pthread_key_t state_key;
std::atomic<bool> key_ready{false};  // written under key_mutex
bool key_retired = false;            // guarded by key_mutex

// The calling thread's state, found without a call into the key's table: the
// engine asks for it on every posted read. A plain pointer has no destructor
// to register; the key above still tells of the thread's end. Initial-exec:
// eight bytes of the static TLS reserve rather than a look-up on each use.
[[gnu::tls_model("initial-exec")]] thread_local ThreadState* own_state = nullptr;

// Threads running on_thread_exit. The C library may have taken the key's
// destructor just before the unload deleted the key, and such a thread may
// still be waiting for the registry's lock: the unload waits for it to be
// done before the code goes away.
std::atomic<int> exits_under_way{0};

// Counted from its first instruction: the moments between the C library
// taking the destructor and the count going up are the only ones the unload
// cannot see, so a thread sanitizer's entry hook must not come first.
__attribute__((no_sanitize("thread"))) void on_thread_exit(void* state) {
  exits_under_way.fetch_add(1);
  // Whatever this thread still calls during its remaining exit work
  // registers it anew rather than using the state it gives back here.
  own_state = nullptr;
  registry.end_thread(static_cast<ThreadState*>(state));
  exits_under_way.fetch_sub(1);
}

// Out of line: the look-up above it is the common case.
[[gnu::noinline]] ThreadState* register_calling_thread() {
  std::lock_guard lock(key_mutex);
  if (key_retired) return nullptr;
  if (!key_ready.load(std::memory_order_relaxed)) {
    if (pthread_key_create(&state_key, on_thread_exit) != 0) return nullptr;
    key_ready.store(true, std::memory_order_release);
  }
  ThreadState* state = registry.register_thread(static_cast<ThreadId>(gettid()));
  if (state && pthread_setspecific(state_key, state) != 0) {
    registry.end_thread(state);
    return nullptr;
  }
  own_state = state;
  return state;
}

}  // namespace

ThreadState* current_thread_state() {
  // Once the states are released at unload, `key_ready` stays false and no
  // thread uses the state it kept.
  if (own_state && key_ready.load(std::memory_order_acquire)) return own_state;
  return register_calling_thread();
}

ThreadState* acquire_current_thread_state() {
  return registry.retain_registered(current_thread_state());
}

void forget_parent_threads_after_fork() {
  count_fork();
  new (&key_mutex) std::mutex;
  registry.forget_after_fork();
  own_state = nullptr;
  if (key_ready.load(std::memory_order_relaxed)) pthread_setspecific(state_key, nullptr);
}

void release_thread_states() {
  {
    std::lock_guard lock(key_mutex);
    key_retired = true;
    if (key_ready.load(std::memory_order_relaxed)) pthread_key_delete(state_key);
    key_ready.store(false, std::memory_order_release);
  }
  registry.close();
  // A thread that ended just before the key went may still be on its way
  // through on_thread_exit; threads that end from now on find the key
  // deleted and do not call it.
  while (exits_under_way.load() != 0) sched_yield();
}

}  // namespace pkdv::sys
