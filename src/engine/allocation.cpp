#include "engine/state.h"

#include <new>

#include "test_hooks.h"

namespace pkdv::engine {

namespace {

// Enough for every read of a busy pass to be posted again without the heap,
// small enough to keep no more than a few hundred KiB.
constexpr int kMostKeptRequests = 4096;
// Guarded by globalLock; linked through `next`.
ReadRequest* kept_requests = nullptr;
int kept_count = 0;

template <typename T>
T* allocate() {
  T* object = new (std::nothrow) T{};
  if (object) test_hooks::allocation_made();
  return object;
}

template <typename T>
void release(T* object) {
  if (!object) return;
  test_hooks::allocation_released();
  delete object;
}

}  // namespace

ReadRequest* new_request() {
  ReadRequest* request = kept_requests;
  if (!request) return allocate<ReadRequest>();
  kept_requests = request->next;
  --kept_count;
  *request = ReadRequest{};
  test_hooks::allocation_made();
  return request;
}

void free_request(ReadRequest* request) {
  if (!request) return;
  if (kept_count == kMostKeptRequests) {
    release(request);
    return;
  }
  test_hooks::allocation_released();
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

}  // namespace pkdv::engine
