// The threads of the POSIX platform: thread ids and handles, each thread's
// queue of asynchronous calls and its alertable wait, the registry of live
// threads, and their release at module unload and in a forked child.
#include "threads.h"

#include <pthread.h>
#include <semaphore.h>
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

bool note_posted(sem_t* note) {
  int value = 0;
  sem_getvalue(note, &value);
  return value > 0;
}

}  // namespace

sem_t* new_end_note() {
  auto* note = new (std::nothrow) sem_t;
  if (note) sem_init(note, 0, 0);
  return note;
}

void free_end_note(sem_t* note) {
  sem_destroy(note);
  delete note;
}

ThreadState::~ThreadState() {
  if (!leaves_note) free_end_note(end_note);
}

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
    if (state->ended || note_posted(state->end_note)) return false;
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
  return state->ended.load(std::memory_order_acquire) || note_posted(state->end_note);
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

ThreadState* ThreadRegistry::register_thread() {
  std::lock_guard lock(mutex_);
  if (closed_) return nullptr;
  drop_ended();
  sem_t* note = new_end_note();
  if (!note) return nullptr;
  ThreadState* state = nullptr;
  try {
    // Not a nothrow new: the state's queue of calls allocates in its
    // constructor, and that failure must not escape either.
    state = new ThreadState(note);
  } catch (const std::bad_alloc&) {
    free_end_note(note);
    return nullptr;
  }
  state->registry_next = first_;
  if (first_) first_->registry_previous = state;
  first_ = state;
  return state;
}

void ThreadRegistry::withdraw(ThreadState* state) {
  std::lock_guard lock(mutex_);
  drop(state);
}

ThreadState* ThreadRegistry::retain_registered(ThreadState* state) {
  std::lock_guard lock(mutex_);
  if (closed_ || !state) return nullptr;
  retain(state);
  return state;
}

void ThreadRegistry::close(sem_t* callers_note, bool threads_waiting) {
  std::lock_guard lock(mutex_);
  closed_ = true;
  while (ThreadState* state = first_) {
    // A live thread may already be past the C library's taking the key's
    // destructor, about to post its note, which nothing here can see: its
    // note (a few dozen bytes a live thread at each unload) stays for the C
    // library to post, never to be freed.
    state->leaves_note = state->end_note != callers_note && !note_posted(state->end_note);
    if (state->leaves_note && threads_waiting) {
      // At exit(), with a thread waiting on one of them: the live threads'
      // states stay whole.
      unlink(state);
      mark_ended(state);
    } else {
      drop(state);
    }
  }
}

void ThreadRegistry::forget_after_fork() {
  new (&mutex_) std::mutex;
  first_ = nullptr;
}

void ThreadRegistry::forget_ended() {
  std::lock_guard lock(mutex_);
  drop_ended();
}

void ThreadRegistry::drop_ended() {
  for (ThreadState* state = first_; state;) {
    ThreadState* const next = state->registry_next;
    // Once posted, the note is the C library's no longer: sem_post touches
    // nothing after the atomic increment that publishes the count unless a
    // waiter is blocked on it, and nothing ever waits on a note.
    if (note_posted(state->end_note)) drop(state);
    state = next;
  }
}

void ThreadRegistry::drop(ThreadState* state) {
  unlink(state);
  mark_ended(state);
  release(state);
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

// A thread's end is seen through a key whose value is the thread's end note
// and whose destructor is the C library's own sem_post: nothing of this
// library runs as a thread ends, so a thread ending while the library is
// unloaded cannot run unmapped code (the C library takes the destructor
// before it calls it, a moment no unload could see). Not a thread_local
// object either: a library that registered thread_local destructors can never
// be unloaded.
std::mutex key_mutex;
pthread_key_t state_key;
std::atomic<bool> key_ready{false};  // written under key_mutex
bool key_retired = false;            // guarded by key_mutex

// The key's destructor. The C library calls it as void(void*); on the x86 and
// x86-64 Linux ABIs the pointer is passed the same way and the int that
// sem_post returns is left in a register nobody reads, so the call is sound.
void (*const post_end_note)(void*) =
    reinterpret_cast<void (*)(void*)>(reinterpret_cast<void (*)()>(&sem_post));

// The calling thread's state and kernel id, found without a search of the
// key's table or a system call: the engine asks for them on every posted read
// and every wait. Plain values have no destructor to register; the key above
// tells of the thread's end. Initial-exec: a few bytes of the static TLS
// reserve rather than a look-up on each use.
[[gnu::tls_model("initial-exec")]] thread_local ThreadState* own_state = nullptr;
[[gnu::tls_model("initial-exec")]] thread_local ThreadId own_id = 0;

// Alertable waits under way, and this thread's share of them. The unload
// cannot tell exit() from dlclose: only at exit() may a client thread still be
// inside the library, waiting on its state, which the unload then leaves to it.
// A thread counts itself before it looks at `key_ready`, and the unload clears
// `key_ready` before it reads the count (both in one total order), so either
// the thread finds the states released or the unload finds it waiting.
std::atomic<std::uint32_t> waits_under_way{0};
[[gnu::tls_model("initial-exec")]] thread_local std::uint32_t own_waits = 0;

class CountedWait {
 public:
  CountedWait() {
    ++own_waits;
    waits_under_way.fetch_add(1);
  }
  ~CountedWait() {
    waits_under_way.fetch_sub(1, std::memory_order_release);
    --own_waits;
  }
  CountedWait(const CountedWait&) = delete;
  CountedWait& operator=(const CountedWait&) = delete;
};

// Out of line: the look-up above it is the common case.
[[gnu::noinline]] ThreadState* register_calling_thread() {
  std::lock_guard lock(key_mutex);
  if (key_retired) return nullptr;
  if (!key_ready.load(std::memory_order_relaxed)) {
    if (pthread_key_create(&state_key, post_end_note) != 0) return nullptr;
    key_ready.store(true);
  }
  ThreadState* state = registry.register_thread();
  if (state && pthread_setspecific(state_key, state->end_note) != 0) {
    registry.withdraw(state);
    return nullptr;
  }
  own_state = state;
  return state;
}

// Registers the calling thread on first use; the thread keeps the state until
// it ends. nullptr after release_thread_states or without memory.
ThreadState* current_thread_state() {
  // Once the states are released at unload, `key_ready` stays false and no
  // thread uses the state it kept. The C library clears the key's value
  // before it posts the note: a thread that calls in from another library's
  // thread-end work after that registers anew, since its old state may be
  // freed as soon as the note is posted.
  if (own_state && key_ready.load() && pthread_getspecific(state_key) != nullptr) {
    return own_state;
  }
  return register_calling_thread();
}

}  // namespace

void forget_parent_threads_after_fork() {
  count_fork();
  new (&key_mutex) std::mutex;
  registry.forget_after_fork();
  own_state = nullptr;
  own_id = 0;
  // A call that forked may still be in this thread's wait; the parent's
  // other waits are not here.
  waits_under_way.store(own_waits);
  if (key_ready.load(std::memory_order_relaxed)) pthread_setspecific(state_key, nullptr);
}

void release_thread_states() {
  sem_t* callers_note = nullptr;
  {
    std::lock_guard lock(key_mutex);
    key_retired = true;
    if (key_ready.load(std::memory_order_relaxed)) {
      callers_note = static_cast<sem_t*>(pthread_getspecific(state_key));
      pthread_key_delete(state_key);
    }
    key_ready.store(false);
  }
  registry.close(callers_note, waits_under_way.load() != 0);
}

// The services the rest of the library sees.

ThreadId current_thread_id() {
  if (own_id == 0) own_id = static_cast<ThreadId>(gettid());
  return own_id;
}

ThreadHandle thread_open_current() {
  return registry.retain_registered(current_thread_state());
}

void thread_close(ThreadHandle thread) {
  if (!thread) return;
  // The engine lets go of a thread when it finds it ended or idle: a moment
  // to drop whatever threads have ended since the last registration.
  registry.forget_ended();
  release(thread);
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
  {
    const CountedWait counted;
    if (ThreadState* state = current_thread_state()) return wait_running_calls(state, milliseconds);
  }
  // Without a state (no memory, or the library is being unloaded) nothing
  // can have been queued to this thread.
  sleep_ms(milliseconds);
  return 0;
}

void sleep_ms(std::uint32_t milliseconds) {
  if (milliseconds != kInfinite) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    return;
  }
  for (;;) std::this_thread::sleep_for(std::chrono::hours(24));
}

}  // namespace pkdv::sys
