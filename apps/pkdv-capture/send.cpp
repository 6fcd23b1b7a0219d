#include "send.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "adapter.h"
#include "options.h"
#include "output.h"
#include "pcap_tools.h"
#include "platform.h"
#include "source.h"

namespace pkdv_capture {
namespace {

using Clock = std::chrono::steady_clock;
using Ticks = std::chrono::duration<int64_t, std::ratio<1, 10'000'000>>;  // 100 ns

// What the completion routine of the frame being sent reported.
struct Completion {
  bool called = false;
  uint32_t status = 0;
  uint32_t count = 0;
};

// The library calls this before PKDV_PacketSendEx returns, in this thread.
void PKDV_CALLBACK on_sent(uint32_t status, uint32_t count, uintptr_t context) {
  *reinterpret_cast<Completion*>(context) = {true, status, count};
}

// When each frame is due: spaced as captured, at a fixed rate, or at once.
class Pacer {
 public:
  explicit Pacer(const Options& options) : options_(options) {}
  void wait_for(int64_t timestamp) {
    Clock::time_point now = Clock::now();
    if (!started_) {
      started_ = true;
      start_ = now;
      first_timestamp_ = timestamp;
    }
    ++frames_;
    Clock::time_point due = now;
    if (options_.pacing == Pacing::kAsCaptured)  // a frame captured earlier goes at once
      due = start_ + std::chrono::duration_cast<Clock::duration>(
                         Ticks(std::max<int64_t>(timestamp - first_timestamp_, 0)));
    else if (options_.pacing == Pacing::kFixedRate)
      due = start_ + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(double(frames_ - 1) / options_.rate));
    if (due > now) std::this_thread::sleep_until(due);
  }

 private:
  const Options& options_;
  bool started_ = false;
  Clock::time_point start_;
  int64_t first_timestamp_ = 0;
  uint64_t frames_ = 0;
};

}  // namespace

int run_send(const Options& options) {
  SavefileFrames savefile(options.send_path);
  OpenAdapter adapter(adapter_name(*options.adapter));
  catch_interrupts();

  Pacer pacer(options);
  uint64_t frames = 0, sent = 0, bytes = 0;
  auto start = Clock::now();
  std::optional<std::string> damage;
  while (!interrupted()) {
    std::optional<SavedFrame> frame;
    try {
      frame = savefile.next();
    } catch (const SavefileDamage& error) {
      damage = error.what();
    }
    if (!frame) break;
    pacer.wait_for(frame->timestamp);
    ++frames;
    Completion completion;
    uint32_t count = 0;
    uint32_t status = PKDV_PacketSendEx(adapter.handle(), frame->data.data(),
                                        static_cast<uint32_t>(frame->data.size()), &count,
                                        reinterpret_cast<uintptr_t>(&completion), on_sent);
    std::string reason =
        status == NDIS_STATUS_SUCCESS ? "" : ": " + failure_reason(PKDV_GetLastError());
    if (status == NDIS_STATUS_SUCCESS) ++sent, bytes += count;
    if (options.quiet && status == NDIS_STATUS_SUCCESS) continue;
    // The routine is not called on a platform whose family cannot be determined.
    if (completion.called)
      std::printf("%6llu sent %5u bytes %s%s\n", (unsigned long long)frames, completion.count,
                  status_name(completion.status).c_str(), reason.c_str());
    else
      std::printf("%6llu sent %5u bytes %s%s (no completion routine call)\n",
                  (unsigned long long)frames, count, status_name(status).c_str(), reason.c_str());
  }
  std::chrono::duration<double> elapsed = Clock::now() - start;
  std::fflush(stdout);
  std::fprintf(stderr, "pkdv-capture: %llu of %llu frames sent (%llu bytes) in %.3f s\n",
               (unsigned long long)sent, (unsigned long long)frames, (unsigned long long)bytes,
               elapsed.count());
  if (damage) {
    std::fprintf(stderr, "pkdv-capture: %s\n", damage->c_str());
    return 1;
  }
  return sent == frames ? 0 : 1;
}

}  // namespace pkdv_capture
