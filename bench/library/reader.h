// One client thread's reads on one adapter: the shared reposting reader on an
// adapter of its own, counting what comes back.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "pkdv.h"
#include "support/reposting_reader.h"

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
  AdapterHandle handle() const { return adapter_; }
  // Posts every read when the adapter opened; false when it did not.
  bool start();
  // Takes back every read (no buffer is in the library's hands afterwards)
  // and closes the adapter. Runs in the thread that posted.
  void finish();

  // Reads handed back with a frame / without one (any other status).
  std::atomic<long long> served{0};
  std::atomic<long long> failed{0};

 private:
  AdapterHandle adapter_;
  int reads_;
  FrameHook hook_;
  std::unique_ptr<support::RepostingReader> reposting_;
};

// Waits alertably, so deliveries run, until `stop` is set; looks at `stop`
// every `slice_ms`.
void wait_alertably_until(const std::atomic<bool>& stop, std::uint32_t slice_ms);

}  // namespace pkdv::bench
