// Keeps a number of asynchronous reads outstanding on one adapter, reposting each from its
// completion routine, until a frame count is reached, the source fails or the run is stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "pkdv.h"

namespace pkdv_capture {

class ReadRing {
 public:
  // Data area of each buffer: the library's snapshot length.
  static constexpr uint32_t kCapacity = PKDV_SNAPSHOT_LENGTH;
  // The most reads a run adds up to by itself when a burst takes them all. An added read's
  // buffer is first touched, a page fault (4.5 us on a quiet machine, more under load), in the
  // middle of the burst, while nothing is drained: going from 4096 to 16384 reads stalled them
  // 55-170 ms, longer than the kernel's ring holds a fast burst, where 4096 reads already make
  // a hand-back's fixed cost small next to the frames it carries.
  static constexpr uint32_t kMostAddedReads = 4096;

  // Sees a frame (or a failed read); returns false to end the run.
  using FrameHandler = std::function<bool(const PacketBuffer&)>;

  struct Settings {
    uint32_t reads = 1024;       // reads kept outstanding at first
    uint32_t most_reads = 1024;  // as many as they may grow to when they run out
    uint64_t count = 0;     // frames to receive; 0: no limit
    bool savefile = false;  // a failed read then means the end of the savefile, not an error
  };

  // `handler` sees every frame handed back while the run goes on, and a failed read of a live
  // adapter, in this thread, during wait(). Throws AdapterError when the buffers cannot be had.
  ReadRing(AdapterHandle adapter, Settings settings, FrameHandler handler);
  ~ReadRing();
  ReadRing(const ReadRing&) = delete;
  ReadRing& operator=(const ReadRing&) = delete;

  // Posts the first reads (never more than `count`).
  void start();
  // Waits alertably up to `milliseconds`, letting the reads come back.
  void wait(uint32_t milliseconds);
  // The count was reached, the source failed or ended, the handler ended the run, or no read
  // could be posted.
  bool finished() const { return ended_; }
  // A live adapter reported a capture error, or the library refused to queue a read.
  bool failed() const { return failed_; }
  // The source ended by itself (a savefile's last frame was read).
  bool source_ended() const { return source_ended_; }
  // How many waits saw every read that was outstanding when they began come back: the library
  // had more frames than reads, and the rest waited (or was dropped by the kernel). Each time,
  // as many reads again are added, up to `most_reads`.
  uint64_t ran_out() const { return ran_out_; }
  // Reads kept outstanding now.
  uint32_t reads() const { return static_cast<uint32_t>(slots_.size()); }
  // Frames the adapter dropped since it was opened for lack of room (OID_GEN_RCV_NO_BUFFER);
  // empty when the adapter does not say.
  std::optional<uint64_t> frames_dropped() const;
  // Takes back every read still pending and lets reads already filled come back; their frames
  // are dropped. Call before the adapter is closed.
  void stop();

 private:
  struct Slot;

  static void PKDV_CALLBACK on_read(uint32_t status, uint32_t count, uintptr_t context);
  void complete(Slot& slot, uint32_t status);
  void post(Slot& slot);
  void end(bool failed);
  void add_reads();

  AdapterHandle adapter_;
  Settings settings_;
  FrameHandler handler_;
  std::vector<std::unique_ptr<Slot>> slots_;
  uint64_t posted_ = 0;
  uint64_t received_ = 0;
  uint32_t outstanding_ = 0;
  uint64_t wait_number_ = 0;   // of the wait in progress, from 1
  uint32_t earlier_left_ = 0;  // reads posted before this wait and not yet back
  bool counted_this_wait_ = false;
  uint64_t ran_out_ = 0;
  bool ended_ = false;
  bool failed_ = false;
  bool source_ended_ = false;
};

}  // namespace pkdv_capture
