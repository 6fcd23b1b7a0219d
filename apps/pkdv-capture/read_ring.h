// Keeps a number of asynchronous reads outstanding on one adapter, reposting each from its
// completion routine, until a frame count is reached, the source fails or the run is stopped.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pkdv.h"

namespace pkdv_capture {

class ReadRing {
 public:
  // Data area of each buffer: the library's snapshot length.
  static constexpr uint32_t kCapacity = 65536;

  using FrameHandler = std::function<void(const PacketBuffer&)>;

  struct Settings {
    uint32_t reads = 8;     // reads kept outstanding
    uint64_t count = 0;     // frames to receive; 0: no limit
    bool savefile = false;  // a failed read then means the end of the savefile, not an error
  };

  // `handler` sees every frame handed back while the run goes on, and a failed read of a live
  // adapter, in this thread, during wait_alertable().
  ReadRing(AdapterHandle adapter, Settings settings, FrameHandler handler);
  ~ReadRing();
  ReadRing(const ReadRing&) = delete;
  ReadRing& operator=(const ReadRing&) = delete;

  // Posts the first reads (never more than `count`).
  void start();
  // The count was reached, the source failed or ended, or no read could be posted.
  bool finished() const { return ended_; }
  // A live adapter reported a capture error, or the library refused to queue a read.
  bool failed() const { return failed_; }
  // Takes back every read still pending and lets reads already filled come back; their frames
  // are dropped. Call before the adapter is closed.
  void stop();

 private:
  struct Slot;

  static void PKDV_CALLBACK on_read(uint32_t status, uint32_t count, uintptr_t context);
  void complete(Slot& slot, uint32_t status);
  void post(Slot& slot);
  void end(bool failed);

  AdapterHandle adapter_;
  Settings settings_;
  FrameHandler handler_;
  std::vector<std::unique_ptr<Slot>> slots_;
  uint64_t posted_ = 0;
  uint64_t received_ = 0;
  uint32_t outstanding_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

}  // namespace pkdv_capture
