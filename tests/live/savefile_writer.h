// Writes an Ethernet pcap savefile of the given frames, for the tests that
// read savefiles through the capture unit or the whole library.
#pragma once

#include <pcap/pcap.h>

#include <cstdint>
#include <string>
#include <vector>

namespace pkdv::testing {

struct SavedFrame {
  std::int32_t seconds;
  std::int32_t microseconds;
  std::vector<std::uint8_t> data;
  std::uint32_t wire_length = 0;  // 0: the captured bytes' length
};

// False when the file cannot be written.
inline bool write_savefile(const std::string& path, const std::vector<SavedFrame>& frames) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
  pcap_dumper_t* dumper = dead ? pcap_dump_open(dead, path.c_str()) : nullptr;
  if (dumper) {
    for (const SavedFrame& frame : frames) {
      pcap_pkthdr header{};
      header.ts.tv_sec = frame.seconds;
      header.ts.tv_usec = frame.microseconds;
      header.caplen = static_cast<bpf_u_int32>(frame.data.size());
      header.len = frame.wire_length != 0 ? frame.wire_length : header.caplen;
      pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data.data());
    }
    pcap_dump_close(dumper);
  }
  if (dead) pcap_close(dead);
  return dumper != nullptr;
}

}  // namespace pkdv::testing
