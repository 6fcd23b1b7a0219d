// What the library costs while nothing happens: the poller's passes over an
// empty table, or over threads that each have one read pending on an adapter
// that stays quiet. The client threads wait in long alertable waits, so their
// own wake-ups barely count.
#include <atomic>
#include <cstdio>
#include <vector>

#include "library/benchmarks.h"
#include "library/client_threads.h"
#include "library/reader.h"
#include "support/clock.h"

namespace pkdv::bench {

namespace {

constexpr double kTargetPercentWithoutReads = 0.5;
constexpr std::int64_t kSecond = 1'000'000'000;
constexpr std::uint32_t kIdleWaitSliceMs = 1000;

}  // namespace

int run_idle(const Options& options, Json& result) {
  const int threads = static_cast<int>(options.integer("threads", 0));
  const std::string adapter = options.text("adapter", "pkdv0");
  const auto window_ns = static_cast<std::int64_t>(options.number("seconds", 10) * kSecond);

  std::vector<Reader*> readers(threads, nullptr);
  std::atomic<int> open_failures{0};
  ClientThreads group(threads, [&](int index, ClientThreads& self) {
    Reader reader(adapter, 1);
    readers[index] = &reader;
    if (!reader.start()) open_failures.fetch_add(1);
    self.ready();
    self.wait_for_stop(kIdleWaitSliceMs);
  });
  group.wait_until_ready();
  if (open_failures.load() != 0) {
    std::fprintf(stderr, "idle: cannot open %s\n", adapter.c_str());
    return 1;
  }

  sleep_ns(kSecond);  // past start-up and the first passes
  const std::int64_t cpu_before = process_cpu_ns();
  const std::int64_t start = now_ns();
  sleep_ns(window_ns);
  const std::int64_t cpu = process_cpu_ns() - cpu_before;
  const std::int64_t elapsed = now_ns() - start;
  long long frames = 0;
  for (const Reader* reader : readers) frames += reader->served.load();
  group.stop_and_join();

  const double percent = 100.0 * static_cast<double>(cpu) / elapsed;
  const char* label = threads ? "idle, reads pending" : "idle, no reads";
  std::printf("\nIdle cost over %.1f s: %s\n", elapsed / 1e9, label);
  std::printf("%-24s %8s %10s %12s %8s\n", "case", "threads", "CPU ms", "% of a core", "frames");
  std::printf("%-24s %8d %10.2f %12.4f %8lld\n", label, threads, cpu / 1e6, percent, frames);
  bool met = true;
  if (threads == 0) {
    met = percent < kTargetPercentWithoutReads;
    std::printf("TARGET idle CPU with no reads < %.1f%% of a core: %s\n",
                kTargetPercentWithoutReads, met ? "met" : "MISSED");
  }
  result.integer("threads", threads)
      .number("seconds", elapsed / 1e9)
      .number("cpu_ms", cpu / 1e6)
      .number("percent_of_core", percent)
      .integer("frames_seen", frames);
  if (threads == 0) result.boolean("target_met", met);
  return 0;
}

}  // namespace pkdv::bench
