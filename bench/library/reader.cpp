#include "library/reader.h"

#include <vector>

#include "support/clock.h"

namespace pkdv::bench {

namespace {

constexpr std::uint32_t kCapacity = 1514;
constexpr std::size_t kStride = (PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity + 7) / 8 * 8;
constexpr std::uint32_t kWaitSliceMs = 20;
// Two passes and a little: long enough for the poller to queue the delivery
// of any read it completed before the cancellation.
constexpr std::int64_t kDrainNs = 250'000'000;

}  // namespace

Reader::Reader(const std::string& source, int reads, FrameHook hook)
    : reads_(reads), hook_(std::move(hook)) {
  std::vector<char> name(source.begin(), source.end());
  name.push_back('\0');
  adapter_ = PKDV_OpenAdapterA(name.data());
  storage_ = std::make_unique<std::uint64_t[]>(kStride / 8 * reads_);
  slots_ = std::make_unique<Slot[]>(reads_);
  for (int i = 0; i < reads_; ++i) {
    auto* buffer = reinterpret_cast<PacketBuffer*>(reinterpret_cast<std::uint8_t*>(storage_.get()) +
                                                   i * kStride);
    buffer->capacity = kCapacity;
    slots_[i] = {this, buffer};
  }
}

Reader::~Reader() {
  finish();
}

void Reader::post_all() {
  for (int i = 0; i < reads_; ++i) post(slots_[i]);
}

void Reader::post(Slot& slot) {
  PKDV_PacketReadEx(adapter_, slot.buffer, &transferred_, reinterpret_cast<std::uintptr_t>(&slot),
                    on_read);
}

void PKDV_CALLBACK Reader::on_read(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
  Slot& slot = *reinterpret_cast<Slot*>(context);
  Reader& reader = *slot.owner;
  if (status != NDIS_STATUS_SUCCESS) {
    reader.failed.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  reader.served.fetch_add(1, std::memory_order_relaxed);
  if (reader.hook_) reader.hook_(*slot.buffer);
  if (reader.reposting_) reader.post(slot);
}

void Reader::finish() {
  if (!opened()) return;
  reposting_ = false;
  for (int i = 0; i < reads_; ++i) PKDV_CancelPacketRead(adapter_, slots_[i].buffer);
  const std::int64_t until = now_ns() + kDrainNs;
  while (now_ns() < until) PKDV_WaitAlertable(kWaitSliceMs);
  PKDV_CloseAdapter(adapter_);
  adapter_ = PKDV_INVALID_ADAPTER;
}

void wait_alertably_until(const std::atomic<bool>& stop, std::uint32_t slice_ms) {
  while (!stop.load(std::memory_order_acquire)) PKDV_WaitAlertable(slice_ms);
}

}  // namespace pkdv::bench
