// The threads of the POSIX platform: thread ids and handles, each thread's
// queue of asynchronous calls and its alertable wait, the registry of live
// threads, and their release at module unload and in a forked child.
#include "threads.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <new>
#include <thread>
#include <type_traits>

namespace pkdv::sys {

namespace {

// Forks seen by this process's line: count_fork is called in each forked
// child before it has a second thread.
std::uint32_t fork_count = 0;

std::uint32_t forks_seen() {
  return fork_count;
}

void count_fork() {
  ++fork_count;
}

// Marks the thread ended and discards its queued calls, which never run.
void mark_ended(ThreadState* state) {
  std::deque<QueuedCall> discarded;
  {
    std::lock_guard lock(state->mutex);
    state->ended = true;
    discarded.swap(state->calls);
    state->queued.store(0, std::memory_order_release);
  }
  state->wake.notify_all();
}

}  // namespace

void retain(ThreadState* state) {
  state->references.fetch_add(1, std::memory_order_relaxed);
}

void release(ThreadState* state) {
  if (state->references.fetch_sub(1, std::memory_order_acq_rel) == 1) delete state;
}

bool queue_call(ThreadState* state, ApcRoutine routine, std::uintptr_t parameter) {
  bool wake = false;
  {
    std::lock_guard lock(state->mutex);
    if (state->ended) return false;
    try {
      state->calls.push_back({routine, parameter});
    } catch (const std::bad_alloc&) {
      return false;
    }
    state->queued.store(static_cast<std::uint32_t>(state->calls.size()), std::memory_order_release);
    wake = state->sleepers != 0;
  }
  if (wake) state->wake.notify_one();
  return true;
}

bool has_ended(ThreadState* state) {
  return state->ended.load(std::memory_order_acquire);
}

namespace {

// Blocks until a call is queued or the deadline passes; false on time-out.
// The caller holds the lock through `lock`.
bool sleep_for_calls(ThreadState* state, std::unique_lock<std::mutex>& lock,
                     std::uint32_t milliseconds) {
  ++state->sleepers;
  bool woken = true;
  if (milliseconds == kInfinite) {
    state->wake.wait(lock, [state] { return !state->calls.empty(); });
  } else {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    woken = state->wake.wait_until(lock, deadline, [state] { return !state->calls.empty(); });
  }
  --state->sleepers;
  return woken;
}

}  // namespace

std::uint32_t wait_running_calls(ThreadState* state, std::uint32_t milliseconds) {
  const std::uint32_t forks_before = forks_seen();
  std::unique_lock lock(state->mutex);
  if (state->calls.empty() && (milliseconds == 0 || !sleep_for_calls(state, lock, milliseconds))) {
    return 0;
  }
  for (;;) {
    const QueuedCall call = state->calls.front();
    state->calls.pop_front();
    state->queued.store(static_cast<std::uint32_t>(state->calls.size()), std::memory_order_relaxed);
    // Run unlocked: a call may queue further calls to this same thread, and
    // those still run in this wait.
    lock.unlock();
    call.routine(call.parameter);
    // A call that forked comes back, in the child, to the parent's copy of
    // this queue: its lock may be held by a thread the child does not have,
    // and its calls are the parent's. The wait ends here.
    if (forks_seen() != forks_before) return kWaitIoCompletion;
    if (state->queued.load(std::memory_order_acquire) == 0) return kWaitIoCompletion;
    lock.lock();
    if (state->calls.empty()) return kWaitIoCompletion;
  }
}

// The registry of live threads.

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

// The calling thread's own state.

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

// Registers the calling thread on first use; the thread keeps the state until
// it ends. nullptr after release_thread_states or without memory.
ThreadState* current_thread_state() {
  // Once the states are released at unload, `key_ready` stays false and no
  // thread uses the state it kept.
  if (own_state && key_ready.load(std::memory_order_acquire)) return own_state;
  return register_calling_thread();
}

// As above, with a counted reference the caller must release; nullptr once
// the states have been released.
ThreadState* acquire_current_thread_state() {
  return registry.retain_registered(current_thread_state());
}

}  // namespace

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

// The services the rest of the library sees.

ThreadId current_thread_id() {
  // The id is the one taken at registration: asking the kernel again would
  // cost a system call on every posted read.
  if (const ThreadState* state = current_thread_state()) return state->id;
  return static_cast<ThreadId>(gettid());
}

ThreadHandle thread_open_current() {
  return acquire_current_thread_state();
}

void thread_close(ThreadHandle thread) {
  if (thread) release(thread);
}

bool thread_has_ended(ThreadHandle thread) {
  return !thread || has_ended(thread);
}

// Kernel thread ids are reused as soon as a thread has ended, whatever state
// of it is still held.
bool thread_is_caller(ThreadHandle thread) {
  return !thread_has_ended(thread);
}

bool thread_queue_apc(ThreadHandle thread, ApcRoutine routine, std::uintptr_t parameter) {
  return thread && routine && queue_call(thread, routine, parameter);
}

std::uint32_t wait_alertable(std::uint32_t milliseconds) {
  ThreadState* state = acquire_current_thread_state();
  if (!state) {
    // Without a state (no memory, or the library is being unloaded) nothing
    // can have been queued to this thread.
    sleep_ms(milliseconds);
    return 0;
  }
  const std::uint32_t result = wait_running_calls(state, milliseconds);
  release(state);
  return result;
}

void sleep_ms(std::uint32_t milliseconds) {
  if (milliseconds != kInfinite) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace pkdv::sys
