#include "engine/allocation.h"

#include <atomic>
#include <new>

#include "engine/thread_table.h"

namespace pkdv::engine {

namespace {

std::atomic<int> allocations_until_failure{0};
std::atomic<long> live{0};

// Enough for every read of a busy pass to be posted again without the heap,
// small enough to keep no more than a few hundred KiB.
constexpr int kMostKeptRequests = 4096;
// Guarded by globalLock; linked through `next`.
ReadRequest* kept_requests = nullptr;
int kept_count = 0;

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

ReadRequest* new_request() {
  ReadRequest* request = kept_requests;
  if (!request) return allocate<ReadRequest>();
  // Counted as an allocation all the same, so a test's chosen failure hits the
  // same call whether or not a request was kept.
  if (this_allocation_fails()) return nullptr;
  kept_requests = request->next;
  --kept_count;
  *request = ReadRequest{};
  live.fetch_add(1, std::memory_order_relaxed);
  return request;
}

void free_request(ReadRequest* request) {
  if (!request) return;
  if (kept_count == kMostKeptRequests) {
    release(request);
    return;
  }
  live.fetch_sub(1, std::memory_order_relaxed);
  request->next = kept_requests;
  kept_requests = request;
  ++kept_count;
}

void drop_kept_requests() {
  while (ReadRequest* request = kept_requests) {
    kept_requests = request->next;
    delete request;
  }
  kept_count = 0;
}

void forget_kept_requests_after_fork() {
  kept_requests = nullptr;
  kept_count = 0;
}

ThreadRecord* new_record() {
  return allocate<ThreadRecord>();
}
void free_record(ThreadRecord* record) {
  release(record);
}

void fail_allocation_after(int n) {
  allocations_until_failure.store(n);
}
long live_allocations() {
  return live.load();
}

}  // namespace pkdv::engine
