// The capture poller. It is one thread that fills posted reads with the frames
// the capture library has ready and hands them to delivery (deliver.cpp).
// Between passes it sleeps until there is work: frames on an adapter it could
// serve, a read posted, reads handed back; or, with PKDV_PACING=fixed, for
// 100 ms.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

#include "engine/engine.h"
#include "engine/state.h"
#include "capture/capture.h"
#include "platform/pacing.h"
#include "platform/trace.h"

namespace pkdv::engine {

namespace {

// The longest sleep between passes, and the whole sleep in the fixed pacing:
// a source that tells nothing is still served this often.
constexpr std::uint32_t kLongestSleepMs = 100;
// Where no source tells when frames come, the sleep after an empty pass
// starts here and doubles up to the longest.
constexpr std::uint32_t kShortestBackOffMs = 1;
// How long the waking poller pauses before the pass that queues a hand-back
// it held back for a thread whose last one has just ended (see
// hand_back_settled): the alertable wait that ran the last one returns in
// microseconds, unless the thread loses its processor at that moment. A sleep
// to the next millisecond instead held a thread with 1024 reads to about 1024
// frames a millisecond, which a flooded adapter outruns.
constexpr std::chrono::microseconds kHeldOfferPause{200};

// Sleeps kHeldOfferPause; false where the C++ library cannot sleep that
// little (mingw's rounds it down to no sleep at all): the poller then sleeps
// its shortest back-off, the timer's granularity there anyway.
bool paused_briefly() {
  const auto start = std::chrono::steady_clock::now();
  std::this_thread::sleep_for(kHeldOfferPause);
  return std::chrono::steady_clock::now() - start >= kHeldOfferPause;
}

// Number of the last frame captured by this module; only the poller touches it.
std::uint64_t frame_counter = 0;

// Under globalLock: passes begun; whether this pass may hold a hand-back back
// for a thread whose last one has only just ended (the poller that wakes on
// work, which may pass again within microseconds of a hand-back's end; passes
// at the fixed pace are 100 ms apart), and whether it did.
std::uint64_t passes = 0;
bool defer_offers = false;
bool offer_deferred = false;

// Under globalLock: when the waking poller next clears the records of threads
// that have ended. Asking whether a thread has ended can cost a system call
// per record (under Wine a round trip to its server, tens of microseconds),
// too dear for every pass when passes follow each other closely; a record
// left a little longer only holds its slot that much longer.
std::chrono::steady_clock::time_point next_sweep{};

bool sweep_due() {
  const auto now = std::chrono::steady_clock::now();
  if (now < next_sweep) return false;
  next_sweep = now + std::chrono::milliseconds(kLongestSleepMs);
  return true;
}

sys::Worker* poller_thread = nullptr;
bool fixed_pacing = false;  // chosen when the poller starts

// Under globalLock: the poller is in its sleep, or about to enter it, so the
// next post or hand-back must wake it. Only a waker that finds it set makes
// a system call.
bool poller_sleeping = false;

// What the poller may sleep on after a pass: the capture handles of each
// record's first pending read, those alone being able to move a record on.
struct WaitPlan {
  explicit WaitPlan(std::uint32_t* poller_back_off) : back_off(poller_back_off) {}

  sys::WaitableHandle sources[kMostThreadRecords];
  std::size_t count = 0;
  bool ready_now = false;     // a source has frames whatever it is waited on
  bool cannot_tell = false;   // a source gives no readiness
  bool moved_frames = false;  // the pass gave reads their results
  // A thread is handing reads back, and posts its next ones from the
  // routines without waking the poller.
  bool reposts_coming = false;
  std::uint32_t* back_off;    // the poller's, kept from pass to pass
  std::uint32_t sleep = 0;    // decided at the end of the pass
  bool pause = false;         // kHeldOfferPause rather than the sleep, where it can be had

  void add(capture::Handle* handle) {
    const capture::Readiness readiness = capture::readiness(handle);
    switch (readiness.kind) {
      case capture::Readiness::Kind::kNow:
        ready_now = true;
        return;
      case capture::Readiness::Kind::kNone:
        cannot_tell = true;
        return;
      case capture::Readiness::Kind::kWaitable:
        if (std::find(sources, sources + count, readiness.source) == sources + count)
          sources[count++] = readiness.source;
        return;
    }
  }

  // Not at all while a source has frames, or after a pass that moved frames
  // where a source cannot tell; after empty passes over such sources a
  // little longer each time; otherwise until a source is ready or a client
  // wakes the poller, at most the longest sleep. While a thread hands reads
  // back after a pass that moved frames, the reads it reposts are collected
  // for a short while: they are served as the routines go on, in batches,
  // rather than one wake-up each or all after the hand-back. After a pass
  // that held a hand-back back, a short pause.
  std::uint32_t choose_sleep() {
    if (ready_now) return 0;
    if (offer_deferred) {
      pause = true;
      return kShortestBackOffMs;
    }
    if (reposts_coming && moved_frames) return kShortestBackOffMs;
    if (!cannot_tell) return kLongestSleepMs;
    if (moved_frames) {
      *back_off = kShortestBackOffMs;
      return 0;
    }
    const std::uint32_t chosen = *back_off;
    *back_off = std::min(*back_off * 2, kLongestSleepMs);
    return chosen;
  }
};

// Serves the record's pending reads in order until the first empty poll.
// True when at least one read got its result.
bool serve_record(ThreadRecord* record) {
  if (tracing()) trace("req check loop start %d\n", static_cast<int>(record->pending.count));
  bool moved = false;
  while (ReadRequest* request = record->pending.head) {
    capture::FrameHeader header{};
    const std::uint8_t* data = nullptr;
    const int result = capture::next_frame(capture::handle_of(request->adapter), &header, &data);
    if (result == 0) break;
    if (result > 0) {
      FillPacketBuffer(request->buffer, header, data);
    } else {
      request->buffer->status = NDIS_STATUS_FAILURE;
    }
    move_to_completed(record, request);
    offer_delivery(record);
    moved = true;
  }
  if (tracing()) trace("req check loop stop\n");
  return moved;
}

// One pass; with a plan, it also notes what to sleep on afterwards.
void run_pass(WaitPlan* plan) {
  EngineState& engine = state();
  sys::lock_enter(&engine.globalLock);
  ++passes;
  defer_offers = plan != nullptr;
  offer_deferred = false;
  auto& table = engine.table;
  if (!plan || sweep_due())
    for (auto entry = table.begin(); entry != table.end();) entry = clear_if_thread_ended(entry);
  std::size_t visited = 0;
  for (auto entry = table.begin(); entry != table.end() && visited < kMostThreadRecords;
       ++entry, ++visited) {
    ThreadRecord* record = entry->second;
    // Results whose delivery could not be queued earlier get another chance.
    offer_delivery(record);
    if (!record->pending.present || record->pending.count == 0) continue;
    const bool moved = serve_record(record);
    if (!plan) continue;
    plan->moved_frames |= moved;
    plan->reposts_coming |= record->handing_back;
    if (ReadRequest* first = record->pending.head)
      plan->add(capture::handle_of(first->adapter));
  }
  if (plan) {
    // Decided under the lock, so a post that comes after it finds the flag
    // and wakes the poller, even before the poller has begun to wait.
    plan->sleep = plan->choose_sleep();
    poller_sleeping = plan->sleep != 0;
  }
  sys::lock_leave(&engine.globalLock);
}

void paced_poller(sys::Worker* self) {
  do {
    run_pass(nullptr);
  } while (!sys::worker_pause(self, kLongestSleepMs));
}

void waking_poller(sys::Worker* self) {
  std::uint32_t back_off = kShortestBackOffMs;
  for (;;) {
    WaitPlan plan(&back_off);
    run_pass(&plan);
    if (plan.pause && paused_briefly()) {
      // Takes in any wake-up a post gave meanwhile: the next pass serves it.
      if (sys::worker_wait(self, nullptr, 0, 0)) return;
      continue;
    }
    if (plan.sleep == 0) {
      // Passes back to back: let a client that waits for globalLock have it
      // between them.
      std::this_thread::yield();
      if (sys::worker_wait(self, nullptr, 0, 0)) return;
      continue;
    }
    if (sys::worker_wait(self, plan.sources, plan.count, plan.sleep)) return;
  }
}

void poller_main(sys::Worker* self) {
  if (fixed_pacing) {
    paced_poller(self);
  } else {
    waking_poller(self);
  }
}

}  // namespace

void FillPacketBuffer(PacketBuffer* buffer, const capture::FrameHeader& header,
                      const std::uint8_t* data) {
  // Only the captured bytes exist, and only the wire length's worth of them
  // belong to the frame: a savefile may claim more captured bytes than the
  // frame had, which a client trusting the field would read past its data
  // area. The field says how many bytes the data area holds on success.
  const std::uint32_t bytes = std::min(header.captured_length, header.wire_length);
  buffer->captured_length = bytes;
  buffer->wire_length = header.wire_length;
  buffer->sequence = ++frame_counter;
  buffer->timestamp = static_cast<std::uint64_t>(std::int64_t{header.seconds} * 10'000'000 +
                                                 std::int64_t{header.microseconds} * 10);
  if (buffer->capacity < header.wire_length) {
    buffer->status = NDIS_STATUS_INVALID_LENGTH;
    return;
  }
  buffer->status = NDIS_STATUS_SUCCESS;
  // A filter or the snapshot length may have cut the frame short of its wire
  // length; the capacity test above bounds `bytes` by the capacity.
  if (bytes) std::memcpy(buffer->data, data, bytes);
}

std::uint64_t frames_captured() {
  return frame_counter;
}
void reset_frame_counter() {
  frame_counter = 0;
}

void poll_pass() {
  run_pass(nullptr);
}

bool start_poller() {
  fixed_pacing = sys::fixed_pacing_asked();
  poller_sleeping = false;
  poller_thread = sys::worker_start(poller_main);
  return poller_thread != nullptr;
}

void start_poller_or_at_first_read() {
  if (!start_poller()) state().start_poller_on_first_read = true;
}

void wake_poller() {
  if (!poller_sleeping || !poller_thread) return;
  poller_sleeping = false;
  sys::worker_wake(poller_thread);
}

void hand_back_settled(ThreadRecord* record) {
  record->offer_from_pass = passes + 2;
  if (record->pending.count != 0 || record->completed.present) wake_poller();
}

void forget_poller_after_fork() {
  poller_thread = nullptr;
}

namespace {
// Posts and hand-backs wake the poller under globalLock. Unhooking it under
// that lock means none of them is still inside worker_wake when the worker is
// freed. Only a poller stuck inside a pass holds the lock for long, and then
// no waker can be inside either: after a bound the unload goes on without it.
void unhook_poller() {
  constexpr int kLockTries = 2000;  // 1 ms apart
  for (int tries = 0; state_built() && tries < kLockTries; ++tries) {
    if (sys::lock_try_enter(&state().globalLock)) {
      poller_thread = nullptr;
      poller_sleeping = false;
      sys::lock_leave(&state().globalLock);
      return;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  poller_thread = nullptr;
}
}  // namespace

bool stop_poller(bool process_exiting) {
  sys::Worker* poller = poller_thread;
  if (!poller) return true;
  // At process exit the worker is never freed (see worker_stop) and client
  // threads may still post and wake it: it stays hooked.
  if (!process_exiting) unhook_poller();
  return sys::worker_stop(poller, process_exiting);
}

void move_to_completed(ThreadRecord* record, ReadRequest* request) {
  sys::lock_enter(&record->lock);
  if (tracing()) trace("recv packet copy to %p\n", static_cast<void*>(request));
  record->pending.remove(request);
  record->completed.append(request);
  sys::lock_leave(&record->lock);
}

namespace {

// Kept out of offer_delivery, which runs for every frame served and mostly
// returns at once: its quick answers then need no registers saved.
[[gnu::noinline]] void queue_delivery(ThreadRecord* record) {
  if (!sys::event_try_take(record->token)) return;
  if (sys::thread_queue_apc(record->thread, APCProc, 0)) {
    record->handing_back = true;
  } else {
    sys::event_set(record->token);
  }
}

}  // namespace

void offer_delivery(ThreadRecord* record) {
  if (!record->completed.present) return;
  if (defer_offers && passes < record->offer_from_pass) {
    offer_deferred = true;
    return;
  }
  // A delivery on its way holds the token: known without asking the event,
  // which is a system call per frame served while a hand-back runs.
  if (!record->handing_back) queue_delivery(record);
}

}  // namespace pkdv::engine
