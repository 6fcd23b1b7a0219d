#include "engine/read_request.h"

#include "engine/allocation.h"

namespace pkdv::engine {

void RequestQueue::append(ReadRequest* request) {
  present = true;
  request->next = nullptr;
  request->previous = tail;
  if (tail) {
    tail->next = request;
  } else {
    head = request;
  }
  tail = request;
  ++count;
}

void RequestQueue::remove(ReadRequest* request) {
  (request->previous ? request->previous->next : head) = request->next;
  (request->next ? request->next->previous : tail) = request->previous;
  request->previous = request->next = nullptr;
  --count;
}

ReadRequest* RequestQueue::detach_all() {
  ReadRequest* chain = head;
  *this = RequestQueue{};
  return chain;
}

void RequestQueue::destroy_with_requests() {
  for (ReadRequest* request = detach_all(); request;) {
    ReadRequest* next = request->next;
    free_request(request);
    request = next;
  }
}

}  // namespace pkdv::engine
