// What only the Windows OS services have to show, on the real API (under Wine
// here): a queued call leaves nothing behind, the held thread handle's rights,
// and that the worker's stop ends its thread. The contract both OSes share is
// in tests/platform.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "platform/platform.h"

namespace pkdv::sys {
namespace {

struct Target {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ThreadHandle self = nullptr;
};

std::atomic<int> calls{0};

void PKDV_CALLBACK record_call(std::uintptr_t) {
  calls++;
}

// Allocations made by the calling thread while `counting` is set.
thread_local bool counting = false;
thread_local int allocations = 0;

// Never waits alertably: whatever is queued to it is dropped when it ends.
DWORD WINAPI end_without_waiting(void* p) {
  auto* t = static_cast<Target*>(p);
  t->self = thread_open_current();
  SetEvent(t->ready);
  WaitForSingleObject(t->go, INFINITE);
  return 0;
}

// A thread may end before it waits alertably: the system then drops the calls
// queued to it, so queueing must leave nothing of its own behind. The held
// handle asks for the rights it is used for and no others.
TEST(Win32Services, ACallQueuedToAThreadThatEndsLeavesNothingBehind) {
  Target t;
  HANDLE thread = CreateThread(nullptr, 0, end_without_waiting, &t, 0, nullptr);
  WaitForSingleObject(t.ready, INFINITE);
  ThreadHandle self = t.self;
  ASSERT_NE(self, nullptr);

  using QueryObject = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
  const auto query_object = reinterpret_cast<QueryObject>(
      reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryObject")));
  ULONG basic[14] = {};  // OBJECT_BASIC_INFORMATION: attributes, granted access, ...
  ASSERT_EQ(query_object(self, 0, basic, sizeof basic, nullptr), 0);
  EXPECT_EQ(basic[1], static_cast<ULONG>(THREAD_SET_CONTEXT | SYNCHRONIZE));

  counting = true;
  EXPECT_TRUE(thread_queue_apc(self, record_call, 1));
  counting = false;
  EXPECT_EQ(allocations, 0);
  SetEvent(t.go);
  WaitForSingleObject(thread, INFINITE);
  EXPECT_TRUE(thread_has_ended(self));
  EXPECT_EQ(calls, 0) << "a call queued to a thread that never waited alertably ran";
  thread_close(self);
  CloseHandle(thread);
}

// --- The worker. ---

std::atomic<int> passes{0};
std::atomic<DWORD> worker_thread_id{0};

void counting_body(Worker* self) {
  worker_thread_id = GetCurrentThreadId();
  do {
    passes++;
  } while (!worker_pause(self, 10));
}

HANDLE open_worker_thread() {
  for (int i = 0; i < 500 && worker_thread_id == 0; ++i) Sleep(2);
  return OpenThread(SYNCHRONIZE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, worker_thread_id);
}

TEST(Win32Worker, StopEndsTheThreadAndNoPassRunsAfterIt) {
  passes = 0;
  worker_thread_id = 0;
  Worker* worker = worker_start(counting_body);
  ASSERT_NE(worker, nullptr);
  HANDLE thread = open_worker_thread();
  ASSERT_NE(thread, nullptr);
  Sleep(100);
  EXPECT_GT(passes, 2);

  const DWORD before = GetTickCount();
  worker_stop(worker, false);
  EXPECT_LT(GetTickCount() - before, 1000u) << "stop waited for a time-out";
  const int passes_at_stop = passes;
  EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0) << "the parked thread did not end";
  EXPECT_EQ(passes, passes_at_stop);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(thread);
}

TEST(Win32Worker, StopRightAfterStartEndsTheThread) {
  for (int i = 0; i < 20; ++i) {
    passes = 0;
    worker_thread_id = 0;
    Worker* worker = worker_start(counting_body);
    ASSERT_NE(worker, nullptr);
    worker_stop(worker, false);
    EXPECT_LE(passes, 1);
    HANDLE thread = open_worker_thread();
    if (thread) {  // nullptr: it has already gone
      EXPECT_EQ(WaitForSingleObject(thread, 2000), WAIT_OBJECT_0);
      CloseHandle(thread);
    }
  }
}

}  // namespace
}  // namespace pkdv::sys

void* operator new(std::size_t size) {
  if (pkdv::sys::counting) ++pkdv::sys::allocations;
  if (void* block = std::malloc(size ? size : 1)) return block;
  throw std::bad_alloc();
}
// Out of line, so that no new-expression of this file sees free() behind them.
[[gnu::noinline]] void operator delete(void* block) noexcept {
  std::free(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
  std::free(block);
}
