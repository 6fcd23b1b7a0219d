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

// The live blocks from the nothrow forms, watched or not (under tracked_mutex).
struct Block {
  void* at;
  std::size_t size;
};
constexpr int kMostNothrowBlocks = 4096;
Block live_nothrow[kMostNothrowBlocks];
int nothrow_count = 0;

void track(void* block) {
  std::lock_guard guard(tracked_mutex);
  if (tracked_count < kMostTracked) tracked[tracked_count++] = block;
}

void track_nothrow(void* block, std::size_t size) {
  std::lock_guard guard(tracked_mutex);
  if (nothrow_count < kMostNothrowBlocks) live_nothrow[nothrow_count++] = {block, size};
}

void untrack(void* block) {
  std::lock_guard guard(tracked_mutex);
  for (int i = tracked_count - 1; i >= 0; --i) {
    if (tracked[i] == block) {
      tracked[i] = tracked[--tracked_count];
      break;
    }
  }
  for (int i = nothrow_count - 1; i >= 0; --i) {
    if (live_nothrow[i].at == block) {
      live_nothrow[i] = live_nothrow[--nothrow_count];
      break;
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

void* allocate_nothrow(std::size_t size) {
  void* block = allocate(size);
  if (block) track_nothrow(block, size);
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

long HeapFaults::nothrow_blocks(std::size_t size) {
  std::lock_guard guard(tracked_mutex);
  long count = 0;
  for (int i = 0; i < nothrow_count; ++i) count += live_nothrow[i].size == size;
  return count;
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
using pkdv::testing::allocate_nothrow;
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
  return allocate_nothrow(size);
}
[[gnu::noinline]] void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return allocate_nothrow(size);
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
