// Keeps reads outstanding on one adapter the way a streaming client does:
// each read is posted again from its own completion routine. Shared by the
// end-to-end tests and the benchmarks; it knows nothing of either (what a
// read brought back goes to the caller's handler). POSIX builds: it waits
// through PKDV_WaitAlertable.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "pkdv.h"

namespace pkdv::support {

class RepostingReader {
 public:
  // Runs in the completion routine of every read handed back, with the status
  // the routine got; the read is posted again when it returns true.
  using Handler = std::function<bool(std::uint32_t status, const PacketBuffer& buffer)>;

  RepostingReader(AdapterHandle adapter, int reads, std::uint32_t capacity, Handler handler);
  // Takes every read back first: see take_back().
  ~RepostingReader();
  RepostingReader(const RepostingReader&) = delete;
  RepostingReader& operator=(const RepostingReader&) = delete;

  // Posts up to `most` of the reads not outstanding; returns how many it posted.
  int post_idle(int most);
  // Stops reposting, cancels every pending read and waits alertably until the
  // reads filled before the cancellation have been handed back, so the library
  // holds no buffer afterwards. Runs in the thread that posted. Returns how
  // many reads it took back before they were filled.
  int take_back();
  // For a posting thread that ends with its reads outstanding (the library
  // then drops them and calls no routine): forgets them and stops reposting.
  // The buffers must stay until the library's next pass. Returns how many
  // reads were outstanding.
  int abandon();

  int outstanding() const { return outstanding_; }
  // Posts the library took, and those it refused.
  long long posts() const { return posts_; }
  int refused_posts() const { return refused_posts_; }

 private:
  struct Slot {
    RepostingReader* owner;
    std::unique_ptr<std::uint64_t[]> storage;  // 8-byte aligned, as the header wants
    std::uint32_t transferred = 0;
    bool posted = false;
    PacketBuffer* buffer() { return reinterpret_cast<PacketBuffer*>(storage.get()); }
  };
  static void PKDV_CALLBACK completed(std::uint32_t status, std::uint32_t count,
                                      std::uintptr_t context);
  bool post(Slot& slot);

  AdapterHandle adapter_;
  Handler handler_;
  std::vector<Slot> slots_;
  int outstanding_ = 0;
  long long posts_ = 0;
  int refused_posts_ = 0;
  bool reposting_ = true;
};

}  // namespace pkdv::support
