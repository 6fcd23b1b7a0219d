// One client thread's reads on one adapter: buffers posted through
// PKDV_PacketReadEx and posted again from their completion routine, the way a
// streaming client keeps reads outstanding.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pkdv.h"

namespace pkdv::bench {

class Reader {
 public:
  // Called in the routine, before the read is posted again, for every read
  // that came back with a frame.
  using FrameHook = std::function<void(const PacketBuffer& buffer)>;

  // Opens `source` (an adapter name or "file://PATH"); check opened().
  Reader(const std::string& source, int reads, FrameHook hook = nullptr);
  // Takes the reads back and closes the adapter: see finish().
  ~Reader();
  Reader(const Reader&) = delete;
  Reader& operator=(const Reader&) = delete;

  bool opened() const { return adapter_ != PKDV_INVALID_ADAPTER; }
  void post_all();
  // Posts every read when the adapter opened; false when it did not.
  bool start() {
    if (opened()) post_all();
    return opened();
  }
  // Stops posting, cancels what is pending and runs the deliveries of reads
  // that had already completed, so no buffer is in the library's hands
  // afterwards. Runs in the thread that posted.
  void finish();

  // Reads handed back with a frame / without one (any other status).
  std::atomic<long long> served{0};
  std::atomic<long long> failed{0};

 private:
  struct Slot {
    Reader* owner;
    PacketBuffer* buffer;
  };
  static void PKDV_CALLBACK on_read(std::uint32_t status, std::uint32_t count,
                                    std::uintptr_t context);
  void post(Slot& slot);

  AdapterHandle adapter_ = PKDV_INVALID_ADAPTER;
  int reads_;
  FrameHook hook_;
  bool reposting_ = true;
  std::uint32_t transferred_ = 0;
  std::unique_ptr<std::uint64_t[]> storage_;
  std::unique_ptr<Slot[]> slots_;
};

// Waits alertably, so deliveries run, until `stop` is set; looks at `stop`
// every `slice_ms`.
void wait_alertably_until(const std::atomic<bool>& stop, std::uint32_t slice_ms);

}  // namespace pkdv::bench
