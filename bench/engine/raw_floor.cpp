#include <pcap/pcap.h>
#include <valgrind/callgrind.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "engine/cost_case.h"
#include "support/clock.h"

namespace pkdv::bench {

CaseResult run_raw_floor(const std::string& savefile) {
  CaseResult result;
  char error[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(savefile.c_str(), error);
  if (!p) {
    std::fprintf(stderr, "cannot open %s: %s\n", savefile.c_str(), error);
    return result;
  }
  std::vector<std::uint8_t> buffer(65536);
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  std::uint64_t checksum = 0;

  const std::int64_t start = now_ns();
  CALLGRIND_TOGGLE_COLLECT;
  while (pcap_next_ex(p, &header, &data) == 1) {
    std::memcpy(buffer.data(), data, header->caplen);
    checksum += buffer[header->caplen - 1];
    ++result.frames;
  }
  CALLGRIND_TOGGLE_COLLECT;
  result.elapsed_ns = now_ns() - start;

  pcap_close(p);
  // Keeps the copy from being optimised away.
  if (checksum == 1) std::fputc('\n', stderr);
  result.ok = result.frames > 0;
  return result;
}

}  // namespace pkdv::bench
