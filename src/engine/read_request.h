// A posted read and the queues it waits in.
#pragma once

#include <cstdint>

#include "pkdv.h"

namespace pkdv::engine {

// "RECV" in memory order: marks a block as a receive request.
inline constexpr std::uint32_t kReceiveTag = 0x56434552;

struct ReadRequest {
  std::uint32_t tag = kReceiveTag;
  AdapterHandle adapter = 0;
  PacketBuffer* buffer = nullptr;
  std::uint32_t* transferred = nullptr;
  std::uintptr_t context = 0;
  PKDV_COMPLETION_ROUTINE routine = nullptr;
  std::uintptr_t reserved = 0;
  // A request sits in at most one queue at a time, so the queue links live in
  // the request itself and queueing never allocates.
  ReadRequest* previous = nullptr;
  ReadRequest* next = nullptr;
};

// First-in, first-out list of requests. `present` distinguishes an existing
// but empty queue from no queue at all: a record lives while either of its
// queues is present, even empty.
struct RequestQueue {
  ReadRequest* head = nullptr;
  ReadRequest* tail = nullptr;
  std::uint32_t count = 0;
  bool present = false;

  void append(ReadRequest* request);
  void remove(ReadRequest* request);
  // Hands the whole chain to the caller and leaves the queue absent.
  ReadRequest* detach_all();
  // Frees every request and leaves the queue absent.
  void destroy_with_requests();
};

}  // namespace pkdv::engine
