// Injection-to-routine time. Each client thread opens its own handle on the
// adapter and keeps one read outstanding, so every injected frame reaches
// every thread. A frame is injected at a random moment (uniform over 0..200 ms
// after the previous frame was handed back everywhere), so the injections fall
// on every phase of the poller's sleep, and with PKDV_PACING=fixed on every
// phase of its 100 ms cycle.
#include <atomic>
#include <cstdio>
#include <memory>
#include <random>
#include <vector>

#include "library/benchmarks.h"
#include "library/client_threads.h"
#include "library/injector.h"
#include "library/reader.h"
#include "platform/pacing.h"
#include "support/clock.h"
#include "support/stats.h"

namespace pkdv::bench {

namespace {

// The poller wakes when a frame comes; at the fixed pace a frame waits up to a
// pass (100 ms).
constexpr double kTargetP50Ms = 1;
constexpr double kTargetP99Ms = 5;
constexpr double kPacedTargetP99Ms = 105;
constexpr std::int64_t kMs = 1'000'000;
// Longer than any pass cycle: a frame not handed back by then counts as lost.
constexpr std::int64_t kGiveUpNs = 1000 * kMs;

using Arrivals = std::unique_ptr<std::atomic<std::int64_t>[]>;

bool handed_back_everywhere(const std::vector<Arrivals>& arrivals, std::uint32_t number) {
  for (const auto& thread : arrivals) {
    if (thread[number].load(std::memory_order_acquire) == 0) return false;
  }
  return true;
}

}  // namespace

int run_latency(const Options& options, Json& result) {
  const int threads = static_cast<int>(options.integer("threads", 1));
  const auto frames = static_cast<std::uint32_t>(options.integer("frames", 200));
  const std::string adapter = options.text("adapter", "pkdv0");
  const std::int64_t longest_gap_ns = options.integer("max-gap-ms", 200) * kMs;

  std::vector<Arrivals> arrivals;
  for (int t = 0; t < threads; ++t) {
    arrivals.push_back(std::make_unique<std::atomic<std::int64_t>[]>(frames));
  }
  std::atomic<int> open_failures{0};
  ClientThreads group(threads, [&](int index, ClientThreads& self) {
    Reader reader(adapter, 1, [&arrivals, frames, index](const PacketBuffer& buffer) {
      const std::int64_t now = now_ns();
      const auto number = frame_number(buffer);
      if (!number || *number >= frames) return;
      std::int64_t unset = 0;
      arrivals[index][*number].compare_exchange_strong(unset, now);
    });
    if (!reader.start()) open_failures.fetch_add(1);
    self.ready();
    self.wait_for_stop();
  });
  group.wait_until_ready();
  Injector injector(options.text("inject", "pkdv1"));
  if (open_failures.load() != 0 || !injector.ready()) {
    std::fprintf(stderr, "latency: cannot open %s or inject on its peer\n", adapter.c_str());
    return 1;
  }

  std::mt19937_64 random(static_cast<std::uint64_t>(options.integer("seed", 1)));
  std::uniform_int_distribution<std::int64_t> gap(0, longest_gap_ns);
  std::vector<std::int64_t> sent(frames, 0);
  const std::int64_t started = now_ns();
  for (std::uint32_t i = 0; i < frames; ++i) {
    sleep_ns(gap(random));
    sent[i] = now_ns();
    if (!injector.send(numbered_frame(i))) {
      std::fprintf(stderr, "latency: frame %u not sent\n", i);
      continue;
    }
    while (!handed_back_everywhere(arrivals, i) && now_ns() - sent[i] < kGiveUpNs) sleep_ns(kMs);
  }
  sleep_ns(kGiveUpNs / 4);  // stragglers still count, late
  const double seconds = static_cast<double>(now_ns() - started) / 1e9;
  group.stop_and_join();

  std::vector<double> latencies_ms;
  long long lost = 0;
  for (const auto& thread : arrivals) {
    for (std::uint32_t i = 0; i < frames; ++i) {
      const std::int64_t arrival = thread[i].load();
      if (arrival == 0 || sent[i] == 0) {
        ++lost;
      } else {
        latencies_ms.push_back(static_cast<double>(arrival - sent[i]) / kMs);
      }
    }
  }
  const Summary s = summarize(latencies_ms);
  const bool paced = sys::fixed_pacing_asked();
  const double target_p50 = paced ? kPacedTargetP99Ms : kTargetP50Ms;
  const double target_p99 = paced ? kPacedTargetP99Ms : kTargetP99Ms;
  const bool met = lost == 0 && s.count > 0 && s.p50 <= target_p50 && s.p99 <= target_p99;
  std::printf("\nLatency, %d client thread(s), %u frames injected on %s's peer over %.0f s\n",
              threads, frames, adapter.c_str(), seconds);
  std::printf("%-10s %8s %8s %8s %8s %8s %6s\n", "threads", "samples", "min ms", "p50 ms", "p99 ms",
              "max ms", "lost");
  std::printf("%-10d %8zu %8.2f %8.2f %8.2f %8.2f %6lld\n", threads, s.count, s.min, s.p50, s.p99,
              s.max, lost);
  std::printf("TARGET latency with %d thread(s)%s: p50 <= %.0f ms, p99 <= %.0f ms, none lost: %s\n",
              threads, paced ? " at the fixed pace" : "", target_p50, target_p99,
              met ? "met" : "MISSED");

  result.integer("threads", threads)
      .integer("frames_injected", frames)
      .integer("samples", static_cast<std::int64_t>(s.count))
      .integer("lost", lost)
      .number("min_ms", s.min)
      .number("p50_ms", s.p50)
      .number("p99_ms", s.p99)
      .number("max_ms", s.max)
      .number("mean_ms", s.mean)
      .boolean("fixed_pacing", paced)
      .boolean("target_met", met);
  return 0;
}

}  // namespace pkdv::bench
