// The capture poller: one thread that, every 100 ms, fills posted reads with
// the frames the capture library has ready and hands them to delivery.
#include <algorithm>
#include <cstring>

#include "adapter/adapter_access.h"
#include "engine/engine.h"
#include "engine/state.h"
#include "module/trace.h"
#include "platform/capture.h"

namespace pkdv::engine {

namespace {

constexpr std::uint32_t kPauseBetweenPasses = 100;

// Number of the last frame captured by this module; only the poller touches it.
std::uint64_t frame_counter = 0;

sys::Worker* poller_thread = nullptr;

// Serves the record's pending reads in order until the first empty poll.
void serve_record(ThreadRecord* record) {
  Trace("req check loop start %d\n", static_cast<int>(record->pending.count));
  while (ReadRequest* request = record->pending.head) {
    capture::FrameHeader header{};
    const std::uint8_t* data = nullptr;
    const int result = capture::next_frame(pkdv::capture_handle(request->adapter), &header, &data);
    if (result == 0) break;
    if (result > 0) {
      FillPacketBuffer(request->buffer, header, data);
    } else {
      request->buffer->status = NDIS_STATUS_FAILURE;
    }
    move_to_completed(record, request);
    offer_delivery(record);
  }
  Trace("req check loop stop\n");
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
  EngineState& engine = state();
  sys::lock_enter(&engine.globalLock);
  auto& table = engine.table;
  for (auto entry = table.begin(); entry != table.end();) entry = clear_if_thread_ended(entry);
  std::size_t visited = 0;
  for (auto entry = table.begin(); entry != table.end() && visited < kMostThreadRecords;
       ++entry, ++visited) {
    ThreadRecord* record = entry->second;
    // Results whose delivery could not be queued earlier get another chance.
    offer_delivery(record);
    if (!record->pending.present || record->pending.count == 0) continue;
    serve_record(record);
  }
  sys::lock_leave(&engine.globalLock);
}

namespace {
void poller_main(sys::Worker* self) {
  do {
    poll_pass();
  } while (!sys::worker_pause(self, kPauseBetweenPasses));
}
}  // namespace

void start_poller() {
  poller_thread = sys::worker_start(poller_main);
}

void forget_poller_after_fork() {
  poller_thread = nullptr;
}

bool stop_poller(bool process_exiting) {
  const bool stopped = !poller_thread || sys::worker_stop(poller_thread, process_exiting);
  poller_thread = nullptr;
  return stopped;
}

void move_to_completed(ThreadRecord* record, ReadRequest* request) {
  sys::lock_enter(&record->lock);
  Trace("recv packet copy to %p\n", static_cast<void*>(request));
  record->pending.remove(request);
  record->completed.append(request);
  sys::lock_leave(&record->lock);
}

void offer_delivery(ThreadRecord* record) {
  if (!record->completed.present) return;
  if (!sys::event_try_take(record->token)) return;  // a delivery is already on its way
  if (!sys::thread_queue_apc(record->thread, APCProc, 0)) sys::event_set(record->token);
}

}  // namespace pkdv::engine
