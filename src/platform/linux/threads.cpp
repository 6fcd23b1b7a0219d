// Thread ids, thread handles, asynchronous calls and the alertable wait.
#include <unistd.h>

#include <chrono>
#include <thread>

#include "current_thread.h"
#include "platform/platform.h"
#include "test_hooks.h"

namespace pkdv::sys {

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
  return thread && routine && !test_hooks::queueing_fails() &&
         queue_call(thread, routine, parameter);
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
