// The operating-system services the library needs, one definition per OS
// (win32/ calls the real API; linux/ is our stand-in with the same behaviour).
// Engine, adapter and module code reach the OS only through this header and
// capture/capture.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pkdv.h"            // PKDV_CALLBACK
#include "platform_types.h"  // per-OS: CriticalSection storage, native handle types

namespace pkdv::sys {

using ThreadId = std::uint32_t;

// Last-error codes the library itself produces or tests for: Windows' numbers
// on every build (include/pkdv.h lists what a failed open or send leaves).
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;
inline constexpr std::uint32_t kErrorBadFormat = 11;
inline constexpr std::uint32_t kErrorNotReady = 21;
inline constexpr std::uint32_t kErrorBadLength = 24;
inline constexpr std::uint32_t kErrorGenFailure = 31;
inline constexpr std::uint32_t kErrorNotSupported = 50;
inline constexpr std::uint32_t kErrorDevNotExist = 55;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorModNotFound = 126;
inline constexpr std::uint32_t kErrorIoPending = 997;
inline constexpr std::uint32_t kErrorFileCorrupt = 1392;

// --- Critical sections: locks that their owning thread may enter again. ---
void lock_init(CriticalSection* lock);
void lock_delete(CriticalSection* lock);
void lock_enter(CriticalSection* lock);
bool lock_try_enter(CriticalSection* lock);
void lock_leave(CriticalSection* lock);

// --- Auto-reset events. ---
// Creates an unnamed auto-reset event in the signalled state; nullptr on failure.
EventHandle event_create_signalled();
// Waits with a time-out of 0: true when the event was signalled, which also
// resets it (test and take in one step).
bool event_try_take(EventHandle event);
void event_set(EventHandle event);
void event_close(EventHandle event);

// --- Threads and asynchronous procedure calls. ---
// An asynchronous call has the system's callback convention, so the platform
// hands the routine to the system as it is, with nothing allocated per call
// that a thread ending before it runs the call would leave behind.
using ApcRoutine = void(PKDV_CALLBACK*)(std::uintptr_t parameter);

ThreadId current_thread_id();

// A reference to one particular thread (not just its id): while it is held the
// id cannot name another thread, and the thread's end can be observed.
// Opened with the right to queue calls to the thread. nullptr on failure.
ThreadHandle thread_open_current();
void thread_close(ThreadHandle thread);
// True once the thread has ended.
bool thread_has_ended(ThreadHandle thread);
// True when `thread`, found under the calling thread's id, is the calling
// thread and not an ended one that left the id behind. Asked on every posted
// read, so it is free where a held handle keeps the id from being reused.
bool thread_is_caller(ThreadHandle thread);
// Queues `routine(parameter)` to run in the thread during its next alertable
// wait, after calls queued earlier. The caller does not wait. False when it
// could not be queued (the thread has ended, or no memory).
bool thread_queue_apc(ThreadHandle thread, ApcRoutine routine, std::uintptr_t parameter);

// Waits up to `milliseconds` (kInfinite: no limit), running calls queued to the
// calling thread; kWaitIoCompletion once at least one ran, 0 on time-out.
inline constexpr std::uint32_t kInfinite = 0xFFFFFFFFu;  // INFINITE; PKDV_INFINITE on POSIX
inline constexpr std::uint32_t kWaitIoCompletion = 0xC0u;
std::uint32_t wait_alertable(std::uint32_t milliseconds);

// Plain (non-alertable) sleep.
void sleep_ms(std::uint32_t milliseconds);

// --- Version and errors. ---
inline constexpr std::uint32_t kPlatform95Line = 1;  // VER_PLATFORM_WIN32_WINDOWS
struct VersionInfo {
  std::uint32_t platform_id;  // kPlatform95Line, or 2 = NT line
  std::uint32_t major;
  std::uint32_t minor;
};
// GetVersionExA with a 148-byte OSVERSIONINFOA; false when the query fails.
bool query_version(VersionInfo* out);

std::uint32_t last_error();
void set_last_error(std::uint32_t code);

// Bounded copy with lstrcpynA semantics: copies at most `limit - 1` characters
// and always terminates when limit > 0.
void copy_text(char* destination, const char* source, int limit);

// --- The library's background thread (the poller). ---
struct Worker;
using WorkerBody = void (*)(Worker* self);
// Starts `body` in a new thread through the runtime's thread start routine,
// default stack size. nullptr when the thread cannot be started.
Worker* worker_start(WorkerBody body);
// The worker's pause between passes: waits up to `milliseconds` and returns
// true as soon as a stop has been asked for (the body must then return).
bool worker_pause(Worker* self, std::uint32_t milliseconds);
// The same wait, which also ends (returning false) as soon as one of the
// `count` sources is ready (readable, signalled) or worker_wake is called.
// At most kMostWaitSources sources.
inline constexpr std::size_t kMostWaitSources = 32;
bool worker_wait(Worker* self, const WaitableHandle* sources, std::size_t count,
                 std::uint32_t milliseconds);
// Ends the worker's current worker_wait, or its next one if it is not waiting.
// A system call: callers make it only when the worker is known to wait.
void worker_wake(Worker* self);
// Asks the worker to stop and frees the Worker. Returns true once the thread
// can no longer touch the library's state or run the library's code, so the
// caller may tear the state down and the code may be unmapped; false when that
// cannot be known (the thread did not stop within a bound, or had to be
// killed or cancelled where it stood): the state must then be left alone.
// A thread that cannot be stopped in time is ended where it waits (Windows:
// terminated; POSIX: cancelled, which acts at the blocking call it is stuck
// in), so that the code can be unmapped under it; only a thread stuck in a
// call that never blocks keeps running. With
// `process_exiting` the platform may already have ended the thread, maybe
// inside a pass; nothing is waited for and the result is false.
bool worker_stop(Worker* worker, bool process_exiting);

}  // namespace pkdv::sys
