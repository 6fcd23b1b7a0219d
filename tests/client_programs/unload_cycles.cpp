// dlopen/dlclose again and again, as a client that loads the library for a
// while and lets it go:
//  - load, open the sample savefile, read a frame, close, unload: the heap in
//    use must not grow from cycle to cycle (unload frees what load and open
//    allocated);
//  - with --threads-ending, unload while threads that used the library are
//    ending: a thread ending during the unload must never run code that is no
//    longer mapped (a crash is the failure).
#include <dlfcn.h>

#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <random>
#include <string>

#include "client.h"

#include <malloc.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/lsan_interface.h>
#endif

namespace {

using namespace client;

// Bytes the client's heap has handed out and not had back. glibc counts the
// blocks its per-thread caches keep as in use, so the test runs with those
// caches off (see CMakeLists.txt). A sanitizer's heap also keeps records of
// its own for each load; there AddressSanitizer's leak check at exit finds
// what an unload left behind instead. Threads also start and end tens of
// times slower under a sanitizer: fewer unloads while threads end keep that
// run short there.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kHeapMeasured = false;
constexpr int kUnloadsWhileThreadsEnd = 150;
#else
constexpr bool kHeapMeasured = true;
constexpr int kUnloadsWhileThreadsEnd = 600;
#endif

std::size_t heap_in_use() {
  return mallinfo2().uordblks;
}

template <typename Function>
Function* find(void* library, const char* name) {
  auto* function = reinterpret_cast<Function*>(dlsym(library, name));
  check(function != nullptr, name);
  return function;
}

void* load(const char* path) {
  void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  check(library != nullptr, "the library does not load");
  return library;
}

void unload(void* library, const char* path) {
  dlclose(library);
  check(dlopen(path, RTLD_NOW | RTLD_NOLOAD) == nullptr, "the library stayed loaded");
}

void PKDV_CALLBACK mark(std::uint32_t, std::uint32_t, std::uintptr_t context) {
  *reinterpret_cast<bool*>(context) = true;
}

void read_one_frame(void* library, Slot& slot) {
  auto* open = find<PKDV_OPEN_ADAPTER_A_FUNC>(library, "PKDV_OpenAdapterA");
  auto* read = find<PKDV_PACKET_READ_EX_FUNC>(library, "PKDV_PacketReadEx");
  auto* wait = find<PKDV_WAIT_ALERTABLE_FUNC>(library, "PKDV_WaitAlertable");
  auto* close = find<PKDV_CLOSE_ADAPTER_FUNC>(library, "PKDV_CloseAdapter");
  std::string name = std::string("file://") + PKDV_SAMPLE_SAVEFILE;
  const AdapterHandle adapter = open(name.data());
  check(adapter != PKDV_INVALID_ADAPTER, "the sample savefile does not open");
  bool handed_back = false;
  check(read(adapter, slot.buffer(), &slot.transferred,
             reinterpret_cast<std::uintptr_t>(&handed_back), mark) == 1,
        "post refused");
  const auto start = Clock::now();
  while (!handed_back && elapsed_ms(start) < 5000) wait(100);
  check(handed_back && slot.buffer()->status == NDIS_STATUS_SUCCESS, "the read was not served");
  close(adapter);
}

void heap_stays_flat(const char* path) {
  // The C library's own tables settle within the first few cycles.
  constexpr int kWarmUp = 10;
  constexpr int kMeasured = 30;
  Slot slot;
  std::size_t before = 0;
  for (int cycle = 0; cycle < kWarmUp + kMeasured; ++cycle) {
    if (cycle == kWarmUp) before = heap_in_use();
    void* library = load(path);
    read_one_frame(library, slot);
    unload(library, path);
  }
  if (!kHeapMeasured) return;
  const std::size_t after = heap_in_use();
  const long grown = static_cast<long>(after) - static_cast<long>(before);
  std::printf("heap in use after %d cycles: %+ld bytes\n", kMeasured, grown);
  // A leak of a few bytes a cycle shows as hundreds; a little slack for the
  // C library's own bookkeeping.
  check(grown < 256, "load/open/read/close/unload leaks");
}

// Threads register with the library (an alertable wait does), then end
// spread over a few hundred microseconds while the main thread unloads.
void threads_end_during_unload(const char* path) {
  constexpr int kCycles = kUnloadsWhileThreadsEnd;
  constexpr int kThreads = 16;
  std::mt19937 random(7);
  for (int cycle = 0; cycle < kCycles; ++cycle) {
    void* library = load(path);
    auto* wait = find<PKDV_WAIT_ALERTABLE_FUNC>(library, "PKDV_WaitAlertable");
    std::mutex mutex;
    std::condition_variable go;
    bool released = false;
    int registered = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      const auto linger = std::chrono::microseconds(random() % 400);
      threads.emplace_back([&, linger] {
        {
#if defined(__SANITIZE_ADDRESS__)
          // The unload leaves behind, by design, the few bytes by which a
          // thread still running would tell of its end: not a leak to report.
          const __lsan::ScopedDisabler leftover_allowed;
#endif
          wait(0);
        }
        std::unique_lock lock(mutex);
        ++registered;
        go.notify_all();
        go.wait(lock, [&] { return released; });
        lock.unlock();
        std::this_thread::sleep_for(linger);
      });
    }
    {
      std::unique_lock lock(mutex);
      go.wait(lock, [&] { return registered == kThreads; });
      released = true;
    }
    go.notify_all();
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 200));
    unload(library, path);
    for (auto& thread : threads) thread.join();
  }
  std::printf("%d unloads while threads that used the library ended\n", kCycles);
}

}  // namespace

int main(int argc, char** argv) {
  const bool threads_ending = argc == 3 && std::string(argv[2]) == "--threads-ending";
  check(argc == 2 || threads_ending, "usage: client_unload_cycles LIBRARY [--threads-ending]");
  start_watchdog(100s, "a load or unload hung");
  if (threads_ending) {
    threads_end_during_unload(argv[1]);
  } else {
    heap_stays_flat(argv[1]);
  }
  return 0;
}
