// Critical sections and auto-reset events: the real Windows objects.
#include <windows.h>

#include <cstdio>
#include <cstdlib>

#include "platform/platform.h"

namespace pkdv::sys {

static_assert(sizeof(CriticalSection) == sizeof(CRITICAL_SECTION));
static_assert(alignof(CriticalSection) >= alignof(CRITICAL_SECTION));

namespace {
CRITICAL_SECTION* native(CriticalSection* lock) {
  return reinterpret_cast<CRITICAL_SECTION*>(lock->storage);
}
}  // namespace

void lock_init(CriticalSection* lock) {
  InitializeCriticalSection(native(lock));
}
void lock_delete(CriticalSection* lock) {
  DeleteCriticalSection(native(lock));
}
void lock_enter(CriticalSection* lock) {
  EnterCriticalSection(native(lock));
}
bool lock_try_enter(CriticalSection* lock) {
  return TryEnterCriticalSection(native(lock)) != 0;
}
void lock_leave(CriticalSection* lock) {
#ifdef PKDV_CHECK_LOCK_OWNER
  // Debug builds: the system accepts a leave by a thread that does not own
  // the section, which then lets two threads in or none.
  if (native(lock)->OwningThread != ULongToHandle(GetCurrentThreadId())) {
    std::fputs("pkdv: a critical section is left by a thread that does not own it\n", stderr);
    std::abort();
  }
#endif
  LeaveCriticalSection(native(lock));
}

EventHandle event_create_signalled() {
  return CreateEventA(nullptr, /*bManualReset=*/FALSE, /*bInitialState=*/TRUE, nullptr);
}

bool event_try_take(EventHandle event) {
  return WaitForSingleObject(event, 0) == WAIT_OBJECT_0;
}
void event_set(EventHandle event) {
  SetEvent(event);
}
void event_close(EventHandle event) {
  CloseHandle(event);
}

}  // namespace pkdv::sys
