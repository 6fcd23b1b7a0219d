// The library's background thread on Windows, and how it is taken out of the
// library's code before the module is unmapped.
//
// Why not simply wait for the thread's end at unload: FreeLibrary calls
// DllMain while holding the loader lock, and an ending thread needs that lock
// (for the thread-detach notifications), so the thread could never end while
// DllMain waits for it. Instead the thread is parked in a state from which it
// never returns into our code, and is ended from there:
//
//  1. worker_pause waits on `stop` (not alertable). When it is set, the body
//     returns to run_worker, still our code.
//  2. run_worker parks the thread with SignalObjectAndWait(parked, itself,
//     INFINITE, alertable): one kernel call signals "parked" and enters an
//     alertable wait on its own thread, which cannot end while it waits. Once
//     `parked` is visible the thread executes no further instruction of ours:
//     it sits in the system.
//  3. worker_stop sets `stop`, waits (bounded) for `parked`, then queues
//     ExitThread itself as an APC. The system's APC dispatcher calls
//     ExitThread inside the wait, so the thread never returns into our code;
//     ExitThread then blocks on the loader lock until FreeLibrary is done
//     (the module is gone by then), which costs us nothing.
//     Wine wakes the waiting thread and has it repeat its wait request, with
//     the same handles, to collect the APC: a handle closed in between makes
//     the wait fail and return into our code. So the wait names the thread's
//     pseudo handle, which cannot be closed, and `parked` is left open (one
//     event handle per unload, less than the thread itself costs).
//
// Unloading right after loading: the new thread may still be in the loader's
// start-up, blocked on the loader lock that DllMain holds, and cannot reach
// `parked` while we wait. The loader's thread-attach notification (delivered
// to us under the loader lock before the thread runs its start routine) marks
// the worker `started`; so at unload, under the same lock, `started` false
// proves the thread has not run any of our code and will not before the lock
// is released. An APC queued to such a thread runs at the end of its start-up,
// before its start routine (Windows does so, and Wine 8 too, checked by the
// load/unload tests), so the same queued ExitThread ends it there. Outside a
// DLL (tests that link the worker directly) nobody holds the loader lock and
// the thread always reaches `parked`.
//
// A pass that never ends (a capture call that hangs) would keep the thread in
// our code: after a bounded wait it is terminated, the only way left to unmap
// the code without a crash.
//
// Process exit: the system has already ended the thread, perhaps inside a
// pass; nothing is waited for and nothing is freed (the process is going).
#include <process.h>
#include <windows.h>

#include <initializer_list>
#include <new>

#include "platform/platform.h"
#include "platform/win32/worker_attach.h"

namespace pkdv::sys {

struct Worker {
  WorkerBody body = nullptr;
  HANDLE thread = nullptr;  // from _beginthreadex, kept to queue the exit
  DWORD thread_id = 0;
  HANDLE stop = nullptr;      // manual reset: the body must return
  HANDLE parked = nullptr;    // manual reset: the thread has left our code
  HANDLE wake = nullptr;      // auto reset: worker_wait is to end
  volatile LONG started = 0;  // the thread is past the loader's start-up
};

namespace {

// Generous for a pass (the capture library's empty polls return at once), so
// it is only reached when a capture call hangs.
constexpr DWORD kParkTimeoutMs = 5000;

// Both only touched under the loader lock (DllMain) or before the thread
// exists. `loader_notifies`: we are a DLL and see thread-attach notifications.
bool loader_notifies = false;
Worker* starting_worker = nullptr;

// ExitThread in kernel32 itself: the name in our code resolves to an import
// thunk inside this module, which is exactly what must not run after unmap.
// It takes a DWORD where an APC routine takes a ULONG_PTR: the same argument
// slot in both widths, read as the exit code 0.
PAPCFUNC system_exit_thread() {
  HMODULE kernel32 = GetModuleHandleW(L"kernel32.dll");
  return reinterpret_cast<PAPCFUNC>(
      reinterpret_cast<void (*)()>(GetProcAddress(kernel32, "ExitThread")));
}

void close_handles(Worker* w, bool thread_parked) {
  for (HANDLE h : {w->thread, w->stop, w->wake, thread_parked ? nullptr : w->parked})
    if (h) CloseHandle(h);
}

unsigned __stdcall run_worker(void* argument) {
  auto* w = static_cast<Worker*>(argument);
  InterlockedExchange(&w->started, 1);
  w->body(w);
  SignalObjectAndWait(w->parked, GetCurrentThread(), INFINITE, TRUE);
  // Reached only if an APC other than the queued ExitThread woke the thread
  // before worker_stop queued it: keep waiting, alertably, outside the state.
  for (;;) SleepEx(INFINITE, TRUE);
}

}  // namespace

void worker_use_loader_notifications() {
  loader_notifies = true;
}

void worker_note_thread_attach() {
  if (starting_worker && starting_worker->thread_id == GetCurrentThreadId()) {
    InterlockedExchange(&starting_worker->started, 1);
    starting_worker = nullptr;
  }
}

Worker* worker_start(WorkerBody body) {
  auto* w = new (std::nothrow) Worker;
  if (!w) return nullptr;
  w->body = body;
  w->stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  w->parked = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  w->wake = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (w->stop && w->parked && w->wake) {
    unsigned id = 0;
    // Suspended until its id is recorded, so the thread-attach hook can
    // recognise it.
    w->thread =
        reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, run_worker, w, CREATE_SUSPENDED, &id));
    if (w->thread) {
      w->thread_id = id;
      starting_worker = w;
      ResumeThread(w->thread);
      return w;
    }
  }
  close_handles(w, false);
  delete w;
  return nullptr;
}

bool worker_pause(Worker* self, std::uint32_t milliseconds) {
  return WaitForSingleObject(self->stop, milliseconds) == WAIT_OBJECT_0;
}

bool worker_wait(Worker* self, const WaitableHandle* sources, std::size_t count,
                 std::uint32_t milliseconds) {
  HANDLE handles[kMostWaitSources + 2] = {self->stop, self->wake};
  count = count < kMostWaitSources ? count : kMostWaitSources;
  for (std::size_t i = 0; i < count; ++i) handles[i + 2] = sources[i];
  return WaitForMultipleObjects(static_cast<DWORD>(count + 2), handles, FALSE, milliseconds) ==
         WAIT_OBJECT_0;
}

void worker_wake(Worker* self) {
  SetEvent(self->wake);
}

bool worker_stop(Worker* w, bool process_exiting) {
  if (starting_worker == w) starting_worker = nullptr;
  if (process_exiting) return false;
  SetEvent(w->stop);
  const bool started = InterlockedCompareExchange(&w->started, 0, 0) != 0;
  const auto exit_by_apc = [w] { QueueUserAPC(system_exit_thread(), w->thread, 0); };
  bool parked = false;
  bool out_of_our_code = true;
  if (!started && loader_notifies) {
    exit_by_apc();  // still in the loader's start-up: ends before our code
  } else {
    const HANDLE parked_or_gone[] = {w->parked, w->thread};
    switch (WaitForMultipleObjects(2, parked_or_gone, FALSE, kParkTimeoutMs)) {
      case WAIT_OBJECT_0:
        exit_by_apc();
        parked = true;
        // Outside a DLL nobody holds the loader lock, so the thread's exit
        // can be waited for. Not waiting lets a caller's process exit while
        // the thread is still inside ExitThread, and Wine then kills the
        // process at exit (SIGKILL after its grace time) instead of letting
        // it end with its own status.
        if (!loader_notifies) WaitForSingleObject(w->thread, kParkTimeoutMs);
        break;
      case WAIT_OBJECT_0 + 1:  // someone else ended it already
        break;
      default:
        // Killed where it stood, perhaps holding the engine's lock.
        TerminateThread(w->thread, 0);
        out_of_our_code = false;
        break;
    }
  }
  close_handles(w, parked);
  delete w;
  return out_of_our_code;
}

}  // namespace pkdv::sys
