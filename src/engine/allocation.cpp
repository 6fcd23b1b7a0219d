#include "engine/state.h"

#include <new>

namespace pkdv::engine {

namespace {

// Enough for every read of a busy pass to be posted again without the heap,
// small enough to keep no more than a few hundred KiB.
constexpr int kMostKeptRequests = 4096;
// Guarded by globalLock; linked through `next`.
ReadRequest* kept_requests = nullptr;
int kept_count = 0;

}  // namespace

ReadRequest* new_request() {
  ReadRequest* request = kept_requests;
  if (!request) return new (std::nothrow) ReadRequest{};
  kept_requests = request->next;
  --kept_count;
  *request = ReadRequest{};
  return request;
}

void free_request(ReadRequest* request) {
  if (!request) return;
  if (kept_count == kMostKeptRequests) {
    delete request;
    return;
  }
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
  return new (std::nothrow) ThreadRecord{};
}
void free_record(ThreadRecord* record) {
  delete record;
}

}  // namespace pkdv::engine
