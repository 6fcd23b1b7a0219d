// Loading and unloading pkdv.dll in a process that goes on, with the fake
// wpcap.dll standing in for the capture library: the poller must be out of
// the library's code before it is unmapped, whatever state it was in.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <tlhelp32.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

#include "dll_client.h"
#include "fake_wpcap.h"

namespace pkdv::testing {
namespace {

constexpr int kCycles = 50;

int thread_count() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

// Pollers end after the unloading thread has left the loader: give them a moment.
void expect_threads_back_to(int baseline) {
  int now = thread_count();
  for (int i = 0; i < 200 && now > baseline; ++i) {
    Sleep(10);
    now = thread_count();
  }
  EXPECT_EQ(now, baseline) << "poller threads left behind";
}

std::atomic<int> routine_calls{0};
void PKDV_CALLBACK count_call(std::uint32_t, std::uint32_t, std::uintptr_t) {
  routine_calls++;
}

struct Read {
  std::vector<std::uint8_t> storage =
      std::vector<std::uint8_t>(PKDV_PACKET_BUFFER_HEADER_SIZE + 256);
  std::uint32_t transferred = 0;
  Read() { buffer()->capacity = 256; }
  PacketBuffer* buffer() { return reinterpret_cast<PacketBuffer*>(storage.data()); }
};

AdapterHandle open_fake(DllClient& dll) {
  char name[] = "rpcap://fake0";
  return dll.open(name);
}

void push_frames(AdapterHandle adapter, int count) {
  auto push = reinterpret_cast<fake_wpcap::PushFrameFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("wpcap.dll"), "fake_push_frame")));
  for (std::uint8_t i = 0; i < count; ++i) {
    const std::uint8_t frame[4] = {i, i, i, i};
    push(reinterpret_cast<void*>(adapter), frame, sizeof frame);
  }
}

// One load and unload, in a thread of its own that ends without waiting
// alertably, so hand-backs queued to it are discarded with it. Every other
// cycle unloads right after the load; the rest with three reads pending,
// unloaded at a point of the poller's cycle that moves from cycle to cycle;
// every tenth with two of them filled (never handed back) and one pending.
struct Cycle {
  int index;
  DWORD unload_ms = 0;
};

DWORD WINAPI load_and_unload(void* argument) {
  auto* cycle = static_cast<Cycle*>(argument);
  const bool reads_filled = cycle->index % 10 == 9;
  const bool reads_pending = cycle->index % 2 == 1;
  DllClient dll;
  if (!dll.load()) return 1;
  Read reads[3];
  if (reads_pending) {
    const AdapterHandle adapter = open_fake(dll);
    if (adapter == PKDV_INVALID_ADAPTER) return 2;
    if (reads_filled) push_frames(adapter, 2);
    for (Read& r : reads)
      if (dll.read(adapter, r.buffer(), &r.transferred, 0, count_call) != 1) return 3;
    Sleep(reads_filled ? 250 : static_cast<DWORD>(cycle->index % 5) * 30);
  }
  const DWORD start = GetTickCount();
  dll.unload();
  cycle->unload_ms = GetTickCount() - start;
  if (reads_filled && (reads[0].buffer()->sequence != 1 || reads[1].buffer()->sequence != 2))
    return 4;  // the frames were not moved into the reads
  return 0;
}

TEST(Win32Lifecycle, FiftyUnloadsRightAfterLoadOrWithReadsPendingAndFilledCallNoRoutine) {
  const int baseline = thread_count();
  routine_calls = 0;
  DWORD unloading_ms = 0;
  for (int i = 0; i < kCycles; ++i) {
    // (No SCOPED_TRACE: GoogleTest would start a thread of its own for it.)
    Cycle cycle{i};
    HANDLE thread = CreateThread(nullptr, 0, load_and_unload, &cycle, 0, nullptr);
    ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0) << "cycle " << i;
    DWORD code = 99;
    GetExitCodeThread(thread, &code);
    CloseHandle(thread);
    ASSERT_EQ(code, 0u) << "cycle " << i;
    unloading_ms += cycle.unload_ms;
  }
  // An unload that waited for its poller under the loader lock would take seconds.
  EXPECT_LT(unloading_ms, 10000u);
  expect_threads_back_to(baseline);
  EXPECT_EQ(routine_calls, 0);
}

// The whole path through the real Windows services: reads posted, filled by
// the poller, handed back by an APC during an alertable wait, in order.
std::vector<std::uintptr_t> delivered;
void PKDV_CALLBACK record_context(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
  if (status == NDIS_STATUS_SUCCESS) delivered.push_back(context);
}

TEST(Win32Lifecycle, ReadsAreHandedBackInOrderDuringAnAlertableWait) {
  DllClient dll;
  ASSERT_TRUE(dll.load());
  AdapterHandle adapter = open_fake(dll);
  delivered.clear();
  Read reads[3];
  for (std::uintptr_t i = 0; i < 3; ++i)
    ASSERT_EQ(dll.read(adapter, reads[i].buffer(), &reads[i].transferred, 100 + i, record_context),
              1u);
  push_frames(adapter, 3);
  Sleep(300);
  EXPECT_TRUE(delivered.empty()) << "a routine ran outside an alertable wait";
  for (int i = 0; i < 20 && delivered.size() < 3; ++i) SleepEx(100, TRUE);
  EXPECT_EQ(delivered, (std::vector<std::uintptr_t>{100, 101, 102}));
  for (std::uint8_t i = 0; i < 3; ++i) {
    EXPECT_EQ(reads[i].buffer()->sequence, i + 1u);
    EXPECT_EQ(reads[i].buffer()->data[0], i);
    EXPECT_EQ(reads[i].buffer()->timestamp, 10000050u);  // the fake's 1 s + 5 us
  }
  dll.close(adapter);
  dll.unload();
}

}  // namespace
}  // namespace pkdv::testing
