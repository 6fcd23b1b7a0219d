#include "ledger.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "traffic.h"

namespace pkdv::stress {

namespace {

constexpr std::uint32_t kMostSlots = 1u << 16;
constexpr std::size_t kGuardBytes = 16;
constexpr std::uint8_t kGuard = 0xA5;
constexpr std::uint8_t kUnwritten = 0xEE;
constexpr std::size_t kMostErrorsKept = 40;

std::int64_t now_in_100ns() {
  using namespace std::chrono;
  return duration_cast<nanoseconds>(system_clock::now().time_since_epoch()).count() / 100;
}

std::int64_t steady_ticks() {
  return std::chrono::steady_clock::now().time_since_epoch().count();
}

bool all_bytes(const std::uint8_t* from, const std::uint8_t* to, std::uint8_t value) {
  return std::all_of(from, to, [value](std::uint8_t b) { return b == value; });
}

std::string hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

}  // namespace

Slot::Slot(std::uint32_t slot_index, const void* slot_owner, std::uint32_t capacity)
    : index(slot_index),
      owner(slot_owner),
      storage(PKDV_PACKET_BUFFER_HEADER_SIZE + capacity + kGuardBytes, kGuard),
      capacity_(capacity) {
  buffer()->capacity = capacity;
}

std::uintptr_t Slot::context() const {
  return (std::uintptr_t{index} << 32) | generation;
}

void Slot::prepare() {
  PacketBuffer* b = buffer();
  b->status = kNotWritten;
  b->sequence = 0;
  b->timestamp = 0;
  b->captured_length = kNotWritten;
  b->wire_length = kNotWritten;
  std::memset(b->data, kUnwritten, capacity_);
}

Ledger::Ledger()
    : slots_(std::make_unique<std::unique_ptr<Slot>[]>(kMostSlots)),
      last_hand_back_ns_(steady_ticks()),
      start_100ns_(now_in_100ns()) {}

Slot* Ledger::add_slot(const void* owner, std::uint32_t capacity) {
  std::lock_guard guard(add_mutex_);
  const std::uint32_t index = count_.load(std::memory_order_relaxed);
  if (index == kMostSlots) return nullptr;
  slots_[index] = std::make_unique<Slot>(index, owner, capacity);
  count_.store(index + 1, std::memory_order_release);
  return slots_[index].get();
}

bool Ledger::full() const {
  return slot_count() + 64 > kMostSlots;
}

Slot* Ledger::slot_of_context(std::uintptr_t context) {
  const auto index = static_cast<std::uint32_t>(context >> 32);
  return index < slot_count() ? slots_[index].get() : nullptr;
}

void Ledger::posted(Slot& slot) {
  slot.state = SlotState::kInFlight;
  slot.posted_at = std::chrono::steady_clock::now();
  ++tally.posted;
  ++in_flight_;
}

void Ledger::hand_back(Slot& slot, std::uint32_t status, std::uint32_t count) {
  const std::uint64_t sequence = check_buffer(slot, status, count);
  if (status == NDIS_STATUS_SUCCESS) {
    ++tally.handed_back_frame;
  } else if (status == NDIS_STATUS_INVALID_LENGTH) {
    ++tally.handed_back_too_long;
  } else {
    ++tally.handed_back_failed;
  }
  if (sequence) {
    std::lock_guard guard(mutex_);
    note_sequence(sequence, slot.post_ticket);
  }
  slot.state = SlotState::kFree;
  --in_flight_;
  const auto now = std::chrono::steady_clock::now();
  tally.waited_us += static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::microseconds>(now - slot.posted_at).count());
  last_hand_back_ns_.store(now.time_since_epoch().count());
}

void Ledger::cancelled(Slot& slot) {
  slot.state = SlotState::kFree;
  ++tally.cancelled;
  --in_flight_;
}

void Ledger::left_by_owner(Slot& slot) {
  if (slot.state == SlotState::kInFlight || slot.state == SlotState::kCancelTooLate) {
    slot.read_left_by_owner = true;
    ++tally.torn_down_at_thread_end;
    --in_flight_;
  }
  slot.state = SlotState::kOwnerEnded;
}

void Ledger::torn_down_at_unload(Slot& slot) {
  if (slot.state != SlotState::kInFlight && slot.state != SlotState::kCancelTooLate) return;
  ++tally.torn_down_at_unload;
  --in_flight_;
  const PacketBuffer* b = slot.buffer();
  if (b->status != kNotWritten) ++tally.filled_but_torn_down;
  if (b->status == NDIS_STATUS_SUCCESS || b->status == NDIS_STATUS_INVALID_LENGTH) {
    std::lock_guard guard(mutex_);
    note_sequence(b->sequence, 0);
  }
  slot.state = SlotState::kFree;
}

std::uint64_t Ledger::check_buffer(Slot& slot, std::uint32_t status, std::uint32_t count) {
  const PacketBuffer* b = slot.buffer();
  const std::string read =
      "read " + std::to_string(slot.index) + "." + std::to_string(slot.generation) + ": ";
  if (status != b->status)
    error(read + "routine status " + hex(status) + ", buffer " + hex(b->status));
  if (count != slot.transferred)
    error(read + "routine count differs from the value behind transferred");
  const std::uint8_t* data = b->data;
  const std::uint8_t* end = data + slot.capacity();
  if (!all_bytes(end, end + kGuardBytes, kGuard)) error(read + "written past the data area");
  const std::uint64_t sequence = b->sequence;
  const auto timestamp = static_cast<std::int64_t>(std::uint64_t{b->timestamp});
  switch (status) {
    case NDIS_STATUS_SUCCESS: {
      const std::uint32_t length = b->captured_length;
      if (length != b->wire_length || length > slot.capacity()) {
        error(read + "captured " + std::to_string(length) + " of " +
              std::to_string(b->wire_length) + " bytes into " + std::to_string(slot.capacity()));
        return sequence;
      }
      if (std::string wrong = check_frame(data, length); !wrong.empty()) error(read + wrong);
      if (!all_bytes(data + length, end, kUnwritten)) error(read + "written past the frame");
      if (timestamp < start_100ns_ - 100'000'000 || timestamp > now_in_100ns() + 100'000'000) {
        error(read + "timestamp outside the run");
      }
      break;
    }
    case NDIS_STATUS_INVALID_LENGTH:
      if (b->wire_length <= slot.capacity()) error(read + "refused a frame that fits");
      if (!all_bytes(data, end, kUnwritten)) error(read + "data written for a frame too long");
      break;
    case NDIS_STATUS_FAILURE:
      if (sequence != 0 || b->captured_length != kNotWritten) {
        error(read + "a failed read got more than its status");
      }
      return 0;
    case kNotWritten:
      error(read + "handed back without ever being filled");
      return 0;
    default:
      error(read + "unexpected status " + hex(status));
      return 0;
  }
  if (sequence == 0) error(read + "no sequence number");
  return sequence;
}

void Ledger::note_sequence(std::uint64_t sequence, std::uint64_t post_ticket) {
  if (sequence >= sequences_seen_.size()) sequences_seen_.resize(sequence * 2 + 1024);
  if (sequences_seen_[sequence]) {
    error("sequence number " + std::to_string(sequence) + " filled two reads");
  }
  sequences_seen_[sequence] = true;
  if (post_ticket) filled_.emplace_back(post_ticket, sequence);
}

void Ledger::check_reads_left_by_ended_threads() {
  // For every post ticket, the lowest sequence number among the reads posted
  // from then on: every pass that filled one of those began after the post.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> filled;
  {
    std::lock_guard guard(mutex_);
    filled = filled_;
  }
  std::sort(filled.begin(), filled.end());
  std::vector<std::uint64_t> lowest_from(filled.size() + 1, UINT64_MAX);
  for (std::size_t i = filled.size(); i-- > 0;) {
    lowest_from[i] = std::min(lowest_from[i + 1], filled[i].second);
  }
  for (std::uint32_t i = 0; i < slot_count(); ++i) {
    Slot& slot = *slots_[i];
    std::lock_guard slot_guard(slot.mutex);
    const std::uint8_t* end = slot.buffer()->data + slot.capacity();
    if (!all_bytes(end, end + kGuardBytes, kGuard)) error("slot " + std::to_string(i) + " overrun");
    if (!slot.read_left_by_owner) continue;
    const PacketBuffer* b = slot.buffer();
    if (b->status != kNotWritten) ++tally.filled_but_torn_down;
    if (b->status != NDIS_STATUS_SUCCESS && b->status != NDIS_STATUS_INVALID_LENGTH) continue;
    const std::uint64_t sequence = b->sequence;
    {
      std::lock_guard guard(mutex_);
      note_sequence(sequence, 0);
    }
    const auto later = std::upper_bound(filled.begin(), filled.end(),
                                        std::make_pair(slot.owner_end_ticket, UINT64_MAX));
    if (sequence >= lowest_from[later - filled.begin()]) {
      error("slot " + std::to_string(i) + ": a read of an ended thread got frame " +
            std::to_string(sequence) + " in a pass after the thread had ended");
    }
  }
}

void Ledger::error(const std::string& what) {
  ++error_count_;
  std::lock_guard guard(errors_mutex_);
  if (errors_.size() < kMostErrorsKept) errors_.push_back(what);
}

std::string Ledger::errors_text() {
  std::lock_guard guard(errors_mutex_);
  std::string text;
  for (const auto& e : errors_) text += "  " + e + "\n";
  return text;
}

std::chrono::steady_clock::time_point Ledger::last_hand_back() const {
  return std::chrono::steady_clock::time_point(
      std::chrono::steady_clock::duration(last_hand_back_ns_.load()));
}

}  // namespace pkdv::stress
