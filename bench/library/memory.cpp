// Resident size as reads are served: threads keep reads outstanding on their
// own savefile handles, and the process's resident size is taken when the
// count of reads handed back passes each checkpoint. A library that keeps
// anything per read would grow between the first and the last.
#include <atomic>
#include <cstdio>
#include <sstream>
#include <vector>

#include "library/benchmarks.h"
#include "library/client_threads.h"
#include "library/reader.h"
#include "support/clock.h"
#include "support/process.h"

namespace pkdv::bench {

namespace {

// Less than one byte per read over a million reads.
constexpr std::int64_t kFlatKiB = 1024;
constexpr std::int64_t kPollNs = 1'000'000;
constexpr std::int64_t kGiveUpNs = 600'000'000'000;

std::vector<long long> parse_checkpoints(const std::string& text) {
  std::vector<long long> checkpoints;
  std::stringstream list(text);
  std::string item;
  while (std::getline(list, item, ',')) checkpoints.push_back(std::stoll(item));
  return checkpoints;
}

long long total_served(const std::vector<Reader*>& readers) {
  long long total = 0;
  for (const Reader* reader : readers) total += reader->served.load(std::memory_order_relaxed);
  return total;
}

}  // namespace

int run_memory(const Options& options, Json& result) {
  const int threads = static_cast<int>(options.integer("threads", 10));
  const int reads = static_cast<int>(options.integer("reads", 1000));
  const std::string source = options.text("source");
  const auto checkpoints = parse_checkpoints(options.text("checkpoints", "10000,1000000"));
  if (source.empty() || checkpoints.empty()) {
    std::fprintf(stderr, "memory: needs --source and --checkpoints\n");
    return 1;
  }

  const std::int64_t loaded_kib = resident_kib();
  std::vector<Reader*> readers(threads, nullptr);
  std::atomic<int> open_failures{0};
  ClientThreads group(threads, [&](int index, ClientThreads& self) {
    Reader reader(source, reads);
    readers[index] = &reader;
    if (!reader.start()) open_failures.fetch_add(1);
    self.ready();
    self.wait_for_stop();
  });
  group.wait_until_ready();
  if (open_failures.load() != 0) {
    std::fprintf(stderr, "memory: cannot open %s\n", source.c_str());
    return 1;
  }

  std::vector<Json> rows;
  std::vector<std::int64_t> resident;
  std::vector<std::int64_t> heap;
  const std::int64_t start = now_ns();
  for (const long long checkpoint : checkpoints) {
    long long served = 0;
    while ((served = total_served(readers)) < checkpoint && now_ns() - start < kGiveUpNs) {
      sleep_ns(kPollNs);
    }
    if (served < checkpoint) break;
    resident.push_back(resident_kib());
    heap.push_back(heap_in_use_kib());
    rows.push_back(Json()
                       .integer("checkpoint", checkpoint)
                       .integer("served", served)
                       .integer("resident_kib", resident.back())
                       .integer("heap_in_use_kib", heap.back())
                       .number("seconds", (now_ns() - start) / 1e9));
  }
  group.stop_and_join();
  if (resident.size() != checkpoints.size()) {
    std::fprintf(stderr, "memory: reads stopped being served\n");
    return 1;
  }

  const std::int64_t growth = resident.back() - resident.front();
  const bool flat = growth <= kFlatKiB;
  std::printf("\nMemory: %d threads x %d reads on savefile handles (library loaded: %lld KiB)\n",
              threads, reads, static_cast<long long>(loaded_kib));
  std::printf("%-22s %14s %14s\n", "reads served", "resident KiB", "heap in use KiB");
  for (std::size_t i = 0; i < checkpoints.size(); ++i) {
    std::printf("%-22lld %14lld %14lld\n", checkpoints[i], static_cast<long long>(resident[i]),
                static_cast<long long>(heap[i]));
  }
  std::printf("TARGET resident size flat from %lld to %lld reads (growth %lld KiB <= %lld): %s\n",
              checkpoints.front(), checkpoints.back(), static_cast<long long>(growth),
              static_cast<long long>(kFlatKiB), flat ? "met" : "MISSED");
  result.integer("threads", threads)
      .integer("reads_per_thread", reads)
      .integer("loaded_kib", loaded_kib)
      .array("checkpoints", rows)
      .integer("growth_kib", growth)
      .integer("heap_growth_kib", heap.back() - heap.front())
      .boolean("target_met", flat);
  return 0;
}

}  // namespace pkdv::bench
