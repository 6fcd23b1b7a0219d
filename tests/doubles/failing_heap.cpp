#include "failing_heap.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

namespace pkdv::testing {
namespace {

thread_local bool watching = false;

std::atomic<long> count{0};
std::atomic<long> failing_at{0};
std::atomic<bool> refused{false};

// The blocks allocated under a watch, so that a free by any thread can be
// matched. A plain array: the allocator cannot use the heap for itself.
constexpr int kMostTracked = 16384;
std::mutex tracked_mutex;
void* tracked[kMostTracked];
int tracked_count = 0;

void track(void* block) {
  std::lock_guard guard(tracked_mutex);
  if (tracked_count < kMostTracked) tracked[tracked_count++] = block;
}

void untrack(void* block) {
  std::lock_guard guard(tracked_mutex);
  for (int i = tracked_count - 1; i >= 0; --i) {
    if (tracked[i] == block) {
      tracked[i] = tracked[--tracked_count];
      return;
    }
  }
}

void* allocate(std::size_t size) {
  if (watching) {
    const long number = count.fetch_add(1) + 1;
    if (number == failing_at.load()) {
      refused.store(true);
      return nullptr;
    }
  }
  void* block = std::malloc(size ? size : 1);
  if (block && watching) track(block);
  return block;
}

void release(void* block) {
  if (!block) return;
  untrack(block);
  std::free(block);
}

}  // namespace

void HeapFaults::fail_at(long n) {
  count.store(0);
  refused.store(false);
  failing_at.store(n);
}

long HeapFaults::counted() {
  return count.load();
}
bool HeapFaults::struck() {
  return refused.load();
}

long HeapFaults::outstanding() {
  std::lock_guard guard(tracked_mutex);
  return tracked_count;
}

void HeapFaults::forget_outstanding() {
  std::lock_guard guard(tracked_mutex);
  tracked_count = 0;
}

HeapWatch::HeapWatch() : was_watching_(watching) {
  watching = true;
}
HeapWatch::~HeapWatch() {
  watching = was_watching_;
}

HeapPause::HeapPause() : was_watching_(watching) {
  watching = false;
}
HeapPause::~HeapPause() {
  watching = was_watching_;
}

}  // namespace pkdv::testing

using pkdv::testing::allocate;
using pkdv::testing::release;

// Out of line even in a link-time optimised build: valgrind replaces these by
// name, and a delete inlined as free() into a caller would no longer pair
// with the new it replaced.

[[gnu::noinline]] void* operator new(std::size_t size) {
  if (void* block = allocate(size)) return block;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new[](std::size_t size) {
  if (void* block = allocate(size)) return block;
  throw std::bad_alloc();
}
[[gnu::noinline]] void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate(size);
}
[[gnu::noinline]] void operator delete(void* block) noexcept {
  release(block);
}
[[gnu::noinline]] void operator delete[](void* block) noexcept {
  release(block);
}
[[gnu::noinline]] void operator delete(void* block, std::size_t) noexcept {
  release(block);
}
[[gnu::noinline]] void operator delete[](void* block, std::size_t) noexcept {
  release(block);
}
[[gnu::noinline]] void operator delete(void* block, const std::nothrow_t&) noexcept {
  release(block);
}
[[gnu::noinline]] void operator delete[](void* block, const std::nothrow_t&) noexcept {
  release(block);
}
