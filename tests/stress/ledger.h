// The accounting of every read the stress test posts.
//
// A read lives in a slot: one PacketBuffer that belongs to one client thread
// and holds at most one read at a time, so that a buffer is reused only once
// its read has ended. A read ends exactly once, in one of four ways:
//   handed back  its routine ran (in the owner thread);
//   cancelled    a PKDV_CancelPacketRead found it still pending: the buffer
//                was not written by then, and the routine must never run;
//   torn down    its thread ended with it outstanding, or the library was
//                unloaded with it outstanding: no routine ever runs.
// A cancellation that comes too late (the read was already filled) ends
// nothing: the routine must still come. The slot's mutex is held around each
// post, each cancellation and each routine's bookkeeping, so these are seen
// in one order.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "pkdv.h"

namespace pkdv::stress {

enum class SlotState {
  kFree,           // no read
  kInFlight,       // a read was posted and has not ended
  kCancelTooLate,  // a cancellation found the read already filled
  kOwnerEnded,     // the owner thread has ended; the slot is never used again
};

inline constexpr std::uint32_t kNotWritten = 0xFFFFFFFFu;  // status of a buffer not filled yet

struct Slot {
  Slot(std::uint32_t slot_index, const void* slot_owner, std::uint32_t capacity);
  PacketBuffer* buffer() { return reinterpret_cast<PacketBuffer*>(storage.data()); }
  std::uint32_t capacity() const { return capacity_; }
  std::uintptr_t context() const;
  // Marks every field the library may write, before a post.
  void prepare();

  const std::uint32_t index;
  const void* const owner;
  std::mutex mutex;
  // All below: guarded by mutex.
  SlotState state = SlotState::kFree;
  std::uint32_t generation = 0;
  std::uint32_t transferred = 0;
  std::uint64_t post_ticket = 0;
  std::chrono::steady_clock::time_point posted_at;
  bool read_left_by_owner = false;  // the owner ended with this slot's read outstanding
  std::uint64_t owner_end_ticket = 0;
  std::vector<std::uint8_t> storage;

 private:
  std::uint32_t capacity_;
};

struct Tally {
  std::atomic<std::uint64_t> posted{0};
  std::atomic<std::uint64_t> handed_back_frame{0};
  std::atomic<std::uint64_t> handed_back_too_long{0};
  std::atomic<std::uint64_t> handed_back_failed{0};
  std::atomic<std::uint64_t> cancelled{0};
  std::atomic<std::uint64_t> torn_down_at_thread_end{0};
  std::atomic<std::uint64_t> torn_down_at_unload{0};
  std::atomic<std::uint64_t> filled_but_torn_down{0};
  std::atomic<std::uint64_t> cancel_calls{0};
  std::atomic<std::uint64_t> cancels_too_late{0};
  // Time from post to hand-back, summed over the reads handed back.
  std::atomic<std::uint64_t> waited_us{0};
  std::uint64_t handed_back() const {
    return handed_back_frame + handed_back_too_long + handed_back_failed;
  }
};

class Ledger {
 public:
  Ledger();

  // A new slot for `owner`; nullptr once the ledger is full.
  Slot* add_slot(const void* owner, std::uint32_t capacity);
  Slot* slot_of_context(std::uintptr_t context);
  std::uint32_t slot_count() const { return count_.load(std::memory_order_acquire); }
  Slot* slot(std::uint32_t index) { return slots_[index].get(); }
  bool full() const;

  // Increases with every post and every thread end, so that "posted after
  // that thread ended" can be told later.
  std::uint64_t next_ticket() { return tickets_.fetch_add(1) + 1; }

  // Bookkeeping of the three ends that happen while the test runs; the
  // caller holds the slot's mutex.
  void posted(Slot& slot);
  void hand_back(Slot& slot, std::uint32_t status, std::uint32_t count);
  void cancelled(Slot& slot);
  void left_by_owner(Slot& slot);
  // After the unload: every read still outstanding was torn down.
  void torn_down_at_unload(Slot& slot);
  // After the unload: no read left by an ended thread was filled by a pass
  // that began after the thread had ended (its record must be cleared first).
  void check_reads_left_by_ended_threads();

  void error(const std::string& what);
  std::uint64_t error_count() const { return error_count_.load(); }
  std::string errors_text();

  std::chrono::steady_clock::time_point last_hand_back() const;
  std::int64_t in_flight() const { return in_flight_.load(); }

  Tally tally;

 private:
  // Checks what the library wrote into a read's buffer (and the routine's
  // arguments); returns the frame's sequence number, or 0 for none.
  std::uint64_t check_buffer(Slot& slot, std::uint32_t status, std::uint32_t count);
  void note_sequence(std::uint64_t sequence, std::uint64_t post_ticket);

  std::unique_ptr<std::unique_ptr<Slot>[]> slots_;
  std::atomic<std::uint32_t> count_{0};
  std::mutex add_mutex_;
  std::atomic<std::uint64_t> tickets_{0};
  std::atomic<std::int64_t> in_flight_{0};
  std::atomic<std::int64_t> last_hand_back_ns_;
  const std::int64_t start_100ns_;

  std::mutex mutex_;  // guards the two below
  std::vector<bool> sequences_seen_;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> filled_;  // (post ticket, sequence)
  std::mutex errors_mutex_;
  std::vector<std::string> errors_;
  std::atomic<std::uint64_t> error_count_{0};
};

}  // namespace pkdv::stress
