#include "read_ring.h"

#include <algorithm>
#include <new>

#include "adapter.h"
#include "ndis.h"
#include "platform.h"

namespace pkdv_capture {

namespace {
constexpr uint32_t kOidRcvNoBuffer = 0x00020105;
// Reads that ran out are multiplied by this: a burst is over in a fraction of a second, so
// the reads must reach their bound in a few steps.
constexpr size_t kGrowth = 4;
}  // namespace

struct ReadRing::Slot {
  // The data area is left uninitialised: only the pages a frame is written into are touched,
  // so a thousand reads cost memory for the frames they hold, not for 64 KiB each.
  explicit Slot(ReadRing& owner)
      : ring(owner), storage(new uint8_t[PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity]) {
    *buffer() = PacketBuffer{};
    buffer()->capacity = kCapacity;
  }
  PacketBuffer* buffer() { return reinterpret_cast<PacketBuffer*>(storage.get()); }

  ReadRing& ring;
  std::unique_ptr<uint8_t[]> storage;
  uint32_t transferred = 0;
  uint64_t posted_in_wait = 0;
  bool outstanding = false;
};

ReadRing::ReadRing(AdapterHandle adapter, Settings settings, FrameHandler handler)
    : adapter_(adapter), settings_(settings), handler_(std::move(handler)) {
  uint64_t reads = settings.reads;
  if (settings.count != 0 && settings.count < reads) reads = settings.count;
  try {
    for (uint64_t i = 0; i < reads; ++i) slots_.push_back(std::make_unique<Slot>(*this));
  } catch (const std::bad_alloc&) {
    throw AdapterError("not enough memory for " + std::to_string(reads) +
                       " reads of 64 KiB: lower --reads");
  }
}

ReadRing::~ReadRing() {
  stop();
}

void ReadRing::start() {
  for (auto& slot : slots_) post(*slot);
}

void ReadRing::post(Slot& slot) {
  if (PKDV_PacketReadEx(adapter_, slot.buffer(), &slot.transferred,
                        reinterpret_cast<uintptr_t>(&slot), on_read) != 1) {
    end(true);  // a read that was not queued never comes back
    return;
  }
  slot.outstanding = true;
  slot.posted_in_wait = wait_number_;
  ++outstanding_;
  ++posted_;
}

void ReadRing::wait(uint32_t milliseconds) {
  ++wait_number_;
  earlier_left_ = outstanding_;
  counted_this_wait_ = false;
  wait_alertable(milliseconds);
}

void PKDV_CALLBACK ReadRing::on_read(uint32_t status, uint32_t, uintptr_t context) {
  Slot& slot = *reinterpret_cast<Slot*>(context);
  slot.ring.complete(slot, status);
}

void ReadRing::complete(Slot& slot, uint32_t status) {
  slot.outstanding = false;
  --outstanding_;
  if (ended_) return;  // filled before the run ended; nobody wants it now
  // The last of the reads outstanding when this wait began: the pass took them all.
  const bool took_all =
      slot.posted_in_wait < wait_number_ && earlier_left_ > 0 && --earlier_left_ == 0;
  if (status == NDIS_STATUS_FAILURE) {
    // The end of a savefile shows as a failed read; on a live adapter it is a capture error.
    if (!settings_.savefile) handler_(*slot.buffer());
    source_ended_ = settings_.savefile;
    end(!settings_.savefile);
    return;
  }
  ++received_;
  if (!handler_(*slot.buffer())) {
    end(false);
    return;
  }
  if (settings_.count != 0 && received_ >= settings_.count) {
    end(false);
    return;
  }
  if (settings_.count != 0 && posted_ >= settings_.count) return;  // the last reads are out
  // Counted only while reads are being replaced: at the end of a count the reads run out on
  // purpose.
  if (took_all && !counted_this_wait_) {
    counted_this_wait_ = true;
    ++ran_out_;
    // A savefile waits for the reads; an adapter's frames would be dropped.
    if (!settings_.savefile) add_reads();
  }
  post(slot);
}

// Frames came faster than the reads could take them: more reads, while memory and the bound
// allow. Buffers are only touched where frames are written, so an added read costs
// the pages of the frames it holds.
void ReadRing::add_reads() {
  const size_t before = slots_.size();
  size_t wanted = std::min<size_t>(before * kGrowth, settings_.most_reads);
  if (settings_.count != 0) wanted = std::min<size_t>(wanted, settings_.count);
  try {
    while (slots_.size() < wanted) slots_.push_back(std::make_unique<Slot>(*this));
  } catch (const std::bad_alloc&) {
    // As many as could be had.
  }
  for (size_t i = before; i < slots_.size() && !ended_; ++i) {
    if (settings_.count != 0 && posted_ >= settings_.count) break;
    post(*slots_[i]);
  }
}

std::optional<uint64_t> ReadRing::frames_dropped() const {
  const NdisAnswer answer = ndis_query(adapter_, kOidRcvNoBuffer);
  if (!answer.answered()) return std::nullopt;
  uint64_t count = 0;
  for (size_t i = 0; i < answer.data.size() && i < sizeof count; ++i)
    count |= uint64_t{answer.data[i]} << (8 * i);
  return count;
}

void ReadRing::end(bool failed) {
  ended_ = true;
  failed_ = failed_ || failed;
}

void ReadRing::stop() {
  ended_ = true;
  if (outstanding_ == 0) return;
  for (auto& slot : slots_) {
    if (slot->outstanding) PKDV_CancelPacketRead(adapter_, slot->buffer());
  }
  // A read the poller had already filled is not taken back; it comes back at the next
  // alertable wait, and must find its buffer still here.
  wait_alertable(0);
  outstanding_ = 0;
  for (auto& slot : slots_) slot->outstanding = false;
}

}  // namespace pkdv_capture
