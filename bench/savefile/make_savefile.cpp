// Writes the savefile the benchmarks read: FRAMES Ethernet frames whose sizes
// are spread evenly over 60..1514 bytes, in an order fixed by the seed, so
// every run reads the same bytes; or, with --size, frames of that one size.
//
//   pkdv_bench_savefile --out PATH --frames N [--seed S] [--size BYTES]
#include <pcap/pcap.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <exception>
#include <random>

#include "support/options.h"

namespace {

constexpr int kSmallestFrame = 60;
constexpr int kLargestFrame = 1514;
// Local experimental EtherType: no stack claims these frames.
constexpr std::uint8_t kEtherType[2] = {0x88, 0xB5};
constexpr std::int64_t kFirstSecond = 1714564800;  // 2024-05-01 12:00:00 UTC
constexpr int kMicrosecondsApart = 10;

// Frame `number`, `size` bytes: addresses, EtherType, then a byte pattern that
// differs from frame to frame.
void fill_frame(std::array<std::uint8_t, kLargestFrame>& bytes, int size, std::uint32_t number) {
  const std::uint8_t addresses[12] = {0x02, 0, 0, 0, 0, 0x02, 0x02, 0, 0, 0, 0, 0x01};
  std::copy(addresses, addresses + 12, bytes.begin());
  bytes[12] = kEtherType[0];
  bytes[13] = kEtherType[1];
  for (int i = 14; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(number + i);
}

// `fixed_size` 0: sizes spread evenly over the whole range.
int write_savefile(const std::string& path, long long frames, unsigned seed, int fixed_size) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
  pcap_dumper_t* out = dead ? pcap_dump_open(dead, path.c_str()) : nullptr;
  if (!out) {
    std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), dead ? pcap_geterr(dead) : "");
    if (dead) pcap_close(dead);
    return 1;
  }
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> size(fixed_size ? fixed_size : kSmallestFrame,
                                          fixed_size ? fixed_size : kLargestFrame);
  std::array<std::uint8_t, kLargestFrame> data{};
  long long bytes = 0;
  for (long long i = 0; i < frames; ++i) {
    const int length = size(random);
    fill_frame(data, length, static_cast<std::uint32_t>(i));
    const long long microseconds = i * kMicrosecondsApart;
    pcap_pkthdr header{};
    header.ts.tv_sec = static_cast<time_t>(kFirstSecond + microseconds / 1'000'000);
    header.ts.tv_usec = static_cast<suseconds_t>(microseconds % 1'000'000);
    header.caplen = header.len = static_cast<bpf_u_int32>(length);
    pcap_dump(reinterpret_cast<u_char*>(out), &header, data.data());
    bytes += length;
  }
  const bool flushed = pcap_dump_flush(out) == 0;
  pcap_dump_close(out);
  pcap_close(dead);
  if (!flushed) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return 1;
  }
  std::printf("%s: %lld frames, %lld bytes of frames (mean %.0f)\n", path.c_str(), frames, bytes,
              frames ? static_cast<double>(bytes) / frames : 0.0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  try {
    const pkdv::bench::Options options(argc, argv, 1);
    const std::string path = options.text("out");
    const long long frames = options.integer("frames", 200'000);
    const long long fixed_size = options.integer("size", 0);
    const bool size_fits = fixed_size == 0 || (fixed_size >= 14 && fixed_size <= kLargestFrame);
    if (path.empty() || frames <= 0 || !size_fits) {
      std::fprintf(stderr, "usage: %s --out PATH --frames N [--seed S] [--size 14..1514]\n",
                   argv[0]);
      return 2;
    }
    return write_savefile(path, frames, static_cast<unsigned>(options.integer("seed", 1)),
                          static_cast<int>(fixed_size));
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 2;
  }
}
