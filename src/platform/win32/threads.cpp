// Thread ids, thread handles, asynchronous procedure calls and waits.
#include <windows.h>

#include "platform/platform.h"

namespace pkdv::sys {

namespace {

// The right to queue calls and the right to wait for the thread's end: all
// that a held thread handle is used for.
constexpr DWORD kHeldThreadAccess = THREAD_SET_CONTEXT | SYNCHRONIZE;

}  // namespace

ThreadId current_thread_id() {
  return GetCurrentThreadId();
}

ThreadHandle thread_open_current() {
  return OpenThread(kHeldThreadAccess, FALSE, GetCurrentThreadId());
}

void thread_close(ThreadHandle thread) {
  CloseHandle(thread);
}

bool thread_has_ended(ThreadHandle thread) {
  return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

// An id names no other thread while a handle to its thread is open, and the
// handle found under the caller's id is held: it is the caller's. Asking the
// handle would be a system call per posted read (under Wine a round trip to
// its server).
bool thread_is_caller(ThreadHandle) {
  return true;
}

bool thread_queue_apc(ThreadHandle thread, ApcRoutine routine, std::uintptr_t parameter) {
  // PAPCFUNC is ApcRoutine: the same convention, and a parameter of the same
  // width whose C++ type differs on 32-bit (unsigned long against unsigned
  // int). The detour through void (*)() is the portable spelling of the cast.
  const auto system_routine = reinterpret_cast<PAPCFUNC>(reinterpret_cast<void (*)()>(routine));
  return QueueUserAPC(system_routine, thread, static_cast<ULONG_PTR>(parameter)) != 0;
}

std::uint32_t wait_alertable(std::uint32_t milliseconds) {
  return SleepEx(milliseconds, TRUE);
}

void sleep_ms(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace pkdv::sys
