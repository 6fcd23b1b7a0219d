#include "engine/allocation.h"

#include <atomic>
#include <new>

#include "engine/thread_table.h"

namespace pkdv::engine {

namespace {

std::atomic<int> allocations_until_failure{0};
std::atomic<long> live{0};

bool this_allocation_fails() {
  int left = allocations_until_failure.load(std::memory_order_relaxed);
  while (left > 0) {
    if (allocations_until_failure.compare_exchange_weak(left, left - 1)) return left == 1;
  }
  return false;
}

template <typename T>
T* allocate() {
  if (this_allocation_fails()) return nullptr;
  T* object = new (std::nothrow) T{};
  if (object) live.fetch_add(1, std::memory_order_relaxed);
  return object;
}

template <typename T>
void release(T* object) {
  if (!object) return;
  live.fetch_sub(1, std::memory_order_relaxed);
  delete object;
}

}  // namespace

ReadRequest* new_request() { return allocate<ReadRequest>(); }
void free_request(ReadRequest* request) { release(request); }
ThreadRecord* new_record() { return allocate<ThreadRecord>(); }
void free_record(ThreadRecord* record) { release(record); }

void fail_allocation_after(int n) { allocations_until_failure.store(n); }
long live_allocations() { return live.load(); }

}  // namespace pkdv::engine
