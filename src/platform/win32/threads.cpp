// Thread ids, thread handles, asynchronous procedure calls and waits.
#include <windows.h>

#include <new>

#include "platform/platform.h"

namespace pkdv::sys {

namespace {

// The right to queue calls, to wait for the thread's end, and to ask its id.
constexpr DWORD kHeldThreadAccess =
    THREAD_SET_CONTEXT | SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION;

// ApcRoutine uses the compiler's default convention, while the system calls
// an APC routine as PAPCFUNC (__stdcall on 32-bit). A small record carries the
// routine and its parameter to a trampoline of the system's convention.
struct QueuedCall {
  ApcRoutine routine;
  std::uintptr_t parameter;
};

void NTAPI run_queued_call(ULONG_PTR record) {
  auto* call = reinterpret_cast<QueuedCall*>(record);
  const QueuedCall copy = *call;
  delete call;
  copy.routine(copy.parameter);
}

}  // namespace

ThreadId current_thread_id() {
  return GetCurrentThreadId();
}

ThreadHandle thread_open_current() {
  return OpenThread(kHeldThreadAccess, FALSE, GetCurrentThreadId());
}

ThreadHandle thread_open(ThreadId id) {
  return OpenThread(THREAD_SET_CONTEXT, FALSE, id);
}

void thread_close(ThreadHandle thread) {
  CloseHandle(thread);
}

bool thread_has_ended(ThreadHandle thread) {
  return WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
}

bool thread_queue_apc(ThreadHandle thread, ApcRoutine routine, std::uintptr_t parameter) {
  auto* call = new (std::nothrow) QueuedCall{routine, parameter};
  if (!call) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return false;
  }
  if (!QueueUserAPC(run_queued_call, thread, reinterpret_cast<ULONG_PTR>(call))) {
    delete call;
    return false;
  }
  return true;
}

std::uint32_t wait_alertable(std::uint32_t milliseconds) {
  return SleepEx(milliseconds, TRUE);
}

void sleep_ms(std::uint32_t milliseconds) {
  Sleep(milliseconds);
}

}  // namespace pkdv::sys
