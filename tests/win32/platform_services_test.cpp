// The Windows OS services on the real API (under Wine here): the behaviour the
// engine relies on, and the worker's stop.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"

namespace pkdv::sys {
namespace {

TEST(Win32Services, AutoResetEventIsTakenByAZeroWait) {
  EventHandle token = event_create_signalled();
  ASSERT_NE(token, nullptr);
  EXPECT_TRUE(event_try_take(token));
  EXPECT_FALSE(event_try_take(token));
  event_set(token);
  EXPECT_TRUE(event_try_take(token));
  event_close(token);
}

struct TryFromOtherThread {
  CriticalSection* lock;
  bool got_it;
};

DWORD WINAPI try_enter_and_leave(void* p) {
  auto* attempt = static_cast<TryFromOtherThread*>(p);
  attempt->got_it = lock_try_enter(attempt->lock);
  if (attempt->got_it) lock_leave(attempt->lock);
  return 0;
}

bool other_thread_can_enter(CriticalSection* lock) {
  TryFromOtherThread attempt{lock, false};
  HANDLE other = CreateThread(nullptr, 0, try_enter_and_leave, &attempt, 0, nullptr);
  WaitForSingleObject(other, INFINITE);
  CloseHandle(other);
  return attempt.got_it;
}

TEST(Win32Services, CriticalSectionIsReentrantForItsOwnerOnly) {
  CriticalSection lock;
  lock_init(&lock);
  lock_enter(&lock);
  EXPECT_TRUE(lock_try_enter(&lock));
  EXPECT_FALSE(other_thread_can_enter(&lock));
  lock_leave(&lock);
  EXPECT_FALSE(other_thread_can_enter(&lock));
  lock_leave(&lock);
  EXPECT_TRUE(other_thread_can_enter(&lock));
  lock_delete(&lock);
}

struct Target {
  HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  ThreadHandle self = nullptr;
  ThreadId id = 0;
  std::atomic<int> calls{0};
  std::atomic<ThreadId> ran_in{0};
  std::uintptr_t parameter = 0;
  std::uint32_t plain_sleep_calls = 0;
  std::uint32_t alertable_result = 0;
};

Target* target = nullptr;

void PKDV_CALLBACK record_call(std::uintptr_t parameter) {
  target->parameter = parameter;
  target->ran_in = current_thread_id();
  target->calls++;
}

DWORD WINAPI target_thread(void* p) {
  auto* t = static_cast<Target*>(p);
  t->self = thread_open_current();
  t->id = current_thread_id();
  SetEvent(t->ready);
  WaitForSingleObject(t->go, INFINITE);
  sleep_ms(50);  // not alertable: a queued call must wait
  t->plain_sleep_calls = static_cast<std::uint32_t>(t->calls);
  t->alertable_result = wait_alertable(5000);
  return 0;
}

TEST(Win32Services, QueuedCallRunsInItsThreadOnlyDuringAnAlertableWait) {
  Target t;
  target = &t;
  HANDLE thread = CreateThread(nullptr, 0, target_thread, &t, 0, nullptr);
  WaitForSingleObject(t.ready, INFINITE);
  ASSERT_NE(t.self, nullptr);
  EXPECT_FALSE(thread_has_ended(t.self));

  ASSERT_TRUE(thread_queue_apc(t.self, record_call, 0x1234));
  SetEvent(t.go);
  WaitForSingleObject(thread, INFINITE);

  EXPECT_EQ(t.plain_sleep_calls, 0u);
  EXPECT_EQ(t.alertable_result, kWaitIoCompletion);
  EXPECT_EQ(t.calls, 1);
  EXPECT_EQ(t.ran_in, t.id);
  EXPECT_EQ(t.parameter, 0x1234u);
  // The held handle still tells the ended thread, and queueing to it fails.
  EXPECT_TRUE(thread_has_ended(t.self));
  EXPECT_FALSE(thread_queue_apc(t.self, record_call, 0));
  thread_close(t.self);
  CloseHandle(thread);
  target = nullptr;
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
  thread_close(self);
  CloseHandle(thread);
}

TEST(Win32Services, AlertableWaitWithoutCallsTimesOut) {
  EXPECT_EQ(wait_alertable(20), 0u);
}

TEST(Win32Services, VersionQueryAndLastErrorAndBoundedCopy) {
  VersionInfo version{};
  ASSERT_TRUE(query_version(&version));
  EXPECT_EQ(version.platform_id, 2u);  // the prefix's default reports an NT-line version

  set_last_error(1234);
  EXPECT_EQ(last_error(), 1234u);

  char text[8];
  std::memset(text, 'x', sizeof text);
  copy_text(text, "abcdefghij", 5);
  EXPECT_STREQ(text, "abcd");
  EXPECT_EQ(text[5], 'x');
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
