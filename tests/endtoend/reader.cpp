#include "reader.h"

#include <gtest/gtest.h>

namespace pkdv::testing {

namespace {
std::uint32_t wait_alertably(std::uint32_t milliseconds) {
  return PKDV_WaitAlertable(milliseconds);
}
}  // namespace

Reader::Reader(AdapterHandle adapter, int outstanding, std::uint32_t capacity) : adapter_(adapter) {
  for (int i = 0; i < outstanding; ++i) {
    auto slot = std::make_unique<Slot>();
    slot->owner = this;
    slot->storage.resize(PKDV_PACKET_BUFFER_HEADER_SIZE + capacity);
    slot->buffer()->capacity = capacity;
    slots_.push_back(std::move(slot));
  }
}

Reader::~Reader() {
  cancel_all();
}

void Reader::post(Slot& slot) {
  slot.buffer()->status = 0xFFFFFFFF;
  slot.posted = PKDV_PacketReadEx(adapter_, slot.buffer(), &slot.transferred,
                                  reinterpret_cast<std::uintptr_t>(&slot), completed) == 1;
  EXPECT_TRUE(slot.posted);
  if (slot.posted) ++outstanding_;
}

void PKDV_CALLBACK Reader::completed(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
  auto& slot = *reinterpret_cast<Slot*>(context);
  Reader& self = *slot.owner;
  PacketBuffer* b = slot.buffer();
  EXPECT_EQ(status, b->status) << "the routine gets the buffer's status";
  ReadResult r{b->status,
               b->sequence,
               b->timestamp,
               b->captured_length,
               b->wire_length,
               {},
               std::chrono::steady_clock::now()};
  if (b->status == NDIS_STATUS_SUCCESS) r.data.assign(b->data, b->data + b->captured_length);
  self.results_.push_back(std::move(r));
  slot.posted = false;
  --self.outstanding_;
  if (self.results_.size() + static_cast<std::size_t>(self.outstanding_) < self.wanted_) {
    self.post(slot);
  }
}

void Reader::run_until(std::size_t count, std::chrono::milliseconds timeout) {
  wanted_ = count;
  for (auto& slot : slots_) {
    if (!slot->posted && results_.size() + static_cast<std::size_t>(outstanding_) < wanted_) {
      post(*slot);
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (results_.size() < count && std::chrono::steady_clock::now() < deadline) {
    wait_alertably(20);
  }
}

void Reader::cancel_all() {
  for (auto& slot : slots_) {
    if (!slot->posted) continue;
    PKDV_CancelPacketRead(adapter_, slot->buffer());
  }
  // A read the poller finished just before the cancellation is still handed
  // back: collect it before the buffers go away.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  wanted_ = 0;
  for (;;) {
    bool any = false;
    for (auto& slot : slots_) any |= slot->posted && slot->buffer()->status != 0xFFFFFFFF;
    if (!any || std::chrono::steady_clock::now() > deadline) break;
    wait_alertably(20);
  }
  for (auto& slot : slots_) {
    if (slot->posted && slot->buffer()->status == 0xFFFFFFFF) {
      slot->posted = false;
      --outstanding_;
    }
  }
}

}  // namespace pkdv::testing
