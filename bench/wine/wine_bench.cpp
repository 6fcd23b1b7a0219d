// pkdv.dll as a Windows client under Wine meets it, live on the veth pair
// pkdv0 <-> pkdv1 of a private network namespace (tools/bench.sh runs it
// through tests/win32/run_live_under_wine.sh). Frames are read on pkdv0 and
// injected on pkdv1 through the DLL's own send, so the figures include Wine's
// wpcap.dll on both paths.
//
//   pkdv_bench_wine latency FRAMES
//       One client thread with one read outstanding (reposted from its
//       routine); numbered frames injected one at a time at random moments
//       (0..200 ms after the previous one came back). Sample: routine entry
//       minus the send's start. A frame not back within 1 s is lost.
//   pkdv_bench_wine throughput SECONDS THREADS READS
//       THREADS client threads, each with its own handle on pkdv0 and READS
//       reads outstanding; one thread floods pkdv1 at 10,000 frames/s. Frames
//       handed back over SECONDS after 1 s of warm-up, against the pacing
//       bound THREADS x READS per 100 ms pass.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "pkdv.h"

namespace {

constexpr std::uint32_t kCapacity = 1600;
constexpr std::size_t kFrameSize = 60;
constexpr double kPassesPerSecond = 10;

double now_ms() {
  static const double ticks_per_ms = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart) / 1000;
  }();
  LARGE_INTEGER t;
  QueryPerformanceCounter(&t);
  return static_cast<double>(t.QuadPart) / ticks_per_ms;
}

// Adapter names by description (Wine describes each adapter by its Linux name).
std::string listed_name(const char* linux_name) {
  AdapterRegistryInfo info{};
  for (std::uint32_t r = PKDV_GetFirstAdapterRegistryInfo(&info); r == NDIS_STATUS_SUCCESS;
       r = PKDV_GetNextAdapterRegistryInfo(&info))
    if (std::strcmp(info.description, linux_name) == 0) return info.name;
  return "";
}

AdapterHandle open_adapter(const char* linux_name) {
  std::string name = listed_name(linux_name);
  if (name.empty()) return PKDV_INVALID_ADAPTER;
  return PKDV_OpenAdapterA(name.data());
}

// Broadcast, a local experimental EtherType, the frame's number after it.
std::vector<std::uint8_t> numbered_frame(std::uint32_t number) {
  std::vector<std::uint8_t> f(kFrameSize, 0);
  std::memset(f.data(), 0xFF, 6);
  f[6] = 0x02;
  f[12] = 0x88;
  f[13] = 0xB5;
  std::memcpy(f.data() + 14, &number, 4);
  return f;
}

void PKDV_CALLBACK sent(std::uint32_t, std::uint32_t, std::uintptr_t) {}

// One thread's reads on its own handle, reposted from their routine.
struct Reader {
  AdapterHandle adapter = PKDV_INVALID_ADAPTER;
  std::vector<std::unique_ptr<std::uint8_t[]>> buffers;
  std::uint32_t transferred = 0;
  std::atomic<long long> served{0};
  std::atomic<bool> stop{false};
  void (*on_frame)(const PacketBuffer&) = nullptr;

  static void PKDV_CALLBACK done(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
    auto* buffer = reinterpret_cast<PacketBuffer*>(context);
    Reader* self = *reinterpret_cast<Reader**>(buffer->client_reserved);
    if (status == NDIS_STATUS_SUCCESS) {
      self->served.fetch_add(1, std::memory_order_relaxed);
      if (self->on_frame) self->on_frame(*buffer);
    }
    if (!self->stop.load()) self->post(buffer);
  }
  void post(PacketBuffer* buffer) {
    PKDV_PacketReadEx(adapter, buffer, &transferred, reinterpret_cast<std::uintptr_t>(buffer),
                      done);
  }
  // Runs in its own thread until `stop`, then takes its reads back.
  void run(int reads) {
    for (int i = 0; i < reads; ++i) {
      buffers.emplace_back(new std::uint8_t[PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity]());
      auto* buffer = reinterpret_cast<PacketBuffer*>(buffers.back().get());
      *reinterpret_cast<Reader**>(buffer->client_reserved) = this;
      buffer->capacity = kCapacity;
      post(buffer);
    }
    while (!stop.load()) SleepEx(20, TRUE);
    for (auto& b : buffers)
      PKDV_CancelPacketRead(adapter, reinterpret_cast<PacketBuffer*>(b.get()));
    SleepEx(300, TRUE);  // hand-backs already queued
  }
};

// By frame number, ms; 0 until handed back. Written in the client thread.
std::unique_ptr<std::atomic<double>[]> arrivals;
std::uint32_t arrival_count = 0;

void record_arrival(const PacketBuffer& buffer) {
  std::uint32_t number = 0;
  if (buffer.captured_length < 18) return;
  std::memcpy(&number, buffer.data + 14, 4);
  if (number < arrival_count && arrivals[number] == 0) arrivals[number] = now_ms();
}

int latency(std::uint32_t frames) {
  Reader reader;
  reader.adapter = open_adapter("pkdv0");
  AdapterHandle injector = open_adapter("pkdv1");
  if (reader.adapter == PKDV_INVALID_ADAPTER || injector == PKDV_INVALID_ADAPTER) {
    std::fprintf(stderr, "latency: cannot open pkdv0 and pkdv1\n");
    return 1;
  }
  arrivals = std::make_unique<std::atomic<double>[]>(frames);
  arrival_count = frames;
  reader.on_frame = record_arrival;
  std::thread client([&reader] { reader.run(1); });
  Sleep(300);

  std::mt19937 random(1);
  std::uniform_int_distribution<int> gap(0, 200);
  std::vector<double> sent_at(frames, 0);
  for (std::uint32_t i = 0; i < frames; ++i) {
    Sleep(static_cast<DWORD>(gap(random)));
    const std::vector<std::uint8_t> f = numbered_frame(i);
    std::uint32_t count = 0;
    sent_at[i] = now_ms();
    PKDV_PacketSendEx(injector, f.data(), kFrameSize, &count, 0, sent);
    while (arrivals[i] == 0 && now_ms() - sent_at[i] < 1000) Sleep(1);
  }
  reader.stop = true;
  client.join();

  std::vector<double> samples;
  for (std::uint32_t i = 0; i < frames; ++i)
    if (arrivals[i] != 0) samples.push_back(arrivals[i] - sent_at[i]);
  std::sort(samples.begin(), samples.end());
  const auto at = [&samples](double q) {
    return samples.empty() ? 0.0 : samples[static_cast<std::size_t>(q * (samples.size() - 1))];
  };
  std::printf(
      "under Wine, %d-bit: latency %zu samples, min %.2f p50 %.2f p99 %.2f max %.2f ms, %zu lost\n",
      static_cast<int>(8 * sizeof(void*)), samples.size(), at(0), at(0.5), at(0.99), at(1),
      frames - samples.size());
  PKDV_CloseAdapter(injector);
  PKDV_CloseAdapter(reader.adapter);
  return 0;
}

int throughput(int seconds, int threads, int reads) {
  AdapterHandle injector = open_adapter("pkdv1");
  std::vector<std::unique_ptr<Reader>> readers;
  for (int t = 0; t < threads; ++t) {
    readers.push_back(std::make_unique<Reader>());
    readers.back()->adapter = open_adapter("pkdv0");
    if (readers.back()->adapter == PKDV_INVALID_ADAPTER) injector = PKDV_INVALID_ADAPTER;
  }
  if (injector == PKDV_INVALID_ADAPTER) {
    std::fprintf(stderr, "throughput: cannot open pkdv0 and pkdv1\n");
    return 1;
  }
  std::atomic<bool> flooding{true};
  std::atomic<long long> flooded{0};
  std::thread flood([&] {
    const std::vector<std::uint8_t> f = numbered_frame(0);
    const double start = now_ms();
    while (flooding.load()) {
      std::uint32_t count = 0;
      PKDV_PacketSendEx(injector, f.data(), kFrameSize, &count, 0, sent);
      // 10,000 frames/s: ahead of schedule, wait.
      if (++flooded * 0.1 > now_ms() - start) Sleep(1);
    }
  });
  std::vector<std::thread> clients;
  for (auto& r : readers) clients.emplace_back([&r, reads] { r->run(reads); });

  const auto total = [&readers] {
    long long n = 0;
    for (const auto& r : readers) n += r->served.load();
    return n;
  };
  Sleep(1000);
  const long long first = total();
  const double begin = now_ms();
  const long long flooded_before = flooded.load();
  Sleep(static_cast<DWORD>(seconds * 1000));
  const double elapsed = (now_ms() - begin) / 1000;
  const double rate = static_cast<double>(total() - first) / elapsed;
  const double offered = static_cast<double>(flooded.load() - flooded_before) / elapsed;
  for (auto& r : readers) r->stop = true;
  for (auto& c : clients) c.join();
  flooding = false;
  flood.join();

  const double bound = threads * reads * kPassesPerSecond;
  std::printf(
      "under Wine, %d-bit: throughput %d threads x %d reads, %.0f frames/s handed back, bound %.0f "
      "(%.1f%%), %.0f frames/s injected\n",
      static_cast<int>(8 * sizeof(void*)), threads, reads, rate, bound, 100 * rate / bound,
      offered);
  for (auto& r : readers) PKDV_CloseAdapter(r->adapter);
  PKDV_CloseAdapter(injector);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string what = argc > 1 ? argv[1] : "";
  if (what == "latency" && argc == 3)
    return latency(static_cast<std::uint32_t>(std::atoi(argv[2])));
  if (what == "throughput" && argc == 5)
    return throughput(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  std::fprintf(stderr,
               "usage: pkdv_bench_wine latency FRAMES | throughput SECONDS THREADS READS\n");
  return 2;
}
