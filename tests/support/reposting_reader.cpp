#include "reposting_reader.h"

#include <chrono>
#include <utility>

namespace pkdv::support {

namespace {
// A posted buffer's status until the library fills it.
constexpr std::uint32_t kUnfilled = 0xFFFFFFFF;
constexpr std::uint32_t kWaitSliceMs = 20;
// Far longer than a poller pass: a filled read is handed back well within it.
constexpr auto kTakeBackLimit = std::chrono::milliseconds(500);
}  // namespace

RepostingReader::RepostingReader(AdapterHandle adapter, int reads, std::uint32_t capacity,
                                 Handler handler)
    : adapter_(adapter), handler_(std::move(handler)), slots_(static_cast<std::size_t>(reads)) {
  const std::size_t words = (PKDV_PACKET_BUFFER_HEADER_SIZE + capacity + 7) / 8;
  for (Slot& slot : slots_) {
    slot.owner = this;
    slot.storage = std::make_unique<std::uint64_t[]>(words);
    slot.buffer()->capacity = capacity;
  }
}

RepostingReader::~RepostingReader() {
  take_back();
}

bool RepostingReader::post(Slot& slot) {
  slot.buffer()->status = kUnfilled;
  slot.posted = PKDV_PacketReadEx(adapter_, slot.buffer(), &slot.transferred,
                                  reinterpret_cast<std::uintptr_t>(&slot), completed) == 1;
  if (slot.posted) {
    ++outstanding_;
    ++posts_;
  } else {
    ++refused_posts_;
  }
  return slot.posted;
}

int RepostingReader::post_idle(int most) {
  reposting_ = true;
  int posted = 0;
  for (Slot& slot : slots_) {
    if (posted == most) break;
    if (!slot.posted && post(slot)) ++posted;
  }
  return posted;
}

void PKDV_CALLBACK RepostingReader::completed(std::uint32_t status, std::uint32_t,
                                              std::uintptr_t context) {
  Slot& slot = *reinterpret_cast<Slot*>(context);
  RepostingReader& self = *slot.owner;
  slot.posted = false;
  --self.outstanding_;
  const bool again = self.handler_(status, *slot.buffer());
  if (again && self.reposting_) self.post(slot);
}

int RepostingReader::take_back() {
  reposting_ = false;
  for (Slot& slot : slots_) {
    if (slot.posted) PKDV_CancelPacketRead(adapter_, slot.buffer());
  }
  // A read the poller filled just before the cancellation is still handed
  // back: let it come before the buffers go away.
  const auto deadline = std::chrono::steady_clock::now() + kTakeBackLimit;
  for (;;) {
    bool filled = false;
    for (Slot& slot : slots_) filled |= slot.posted && slot.buffer()->status != kUnfilled;
    if (!filled || std::chrono::steady_clock::now() > deadline) break;
    PKDV_WaitAlertable(kWaitSliceMs);
  }
  int taken_back = 0;
  for (Slot& slot : slots_) {
    if (slot.posted && slot.buffer()->status == kUnfilled) {
      slot.posted = false;
      --outstanding_;
      ++taken_back;
    }
  }
  return taken_back;
}

int RepostingReader::abandon() {
  reposting_ = false;
  for (Slot& slot : slots_) slot.posted = false;
  return std::exchange(outstanding_, 0);
}

}  // namespace pkdv::support
