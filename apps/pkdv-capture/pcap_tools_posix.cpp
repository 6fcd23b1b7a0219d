#include <pcap/pcap.h>

#include <cstring>

#include "pcap_tools.h"

namespace pkdv_capture {
namespace {

struct DeadHandle {
  pcap_t* handle = pcap_open_dead(kLinkTypeEthernet, kSnapshotLength);
  ~DeadHandle() {
    if (handle) pcap_close(handle);
  }
};

}  // namespace

std::vector<uint8_t> compile_filter(const std::string& expression, const std::string&) {
  DeadHandle dead;
  if (!dead.handle) throw PcapToolError("the capture library cannot compile filters");
  bpf_program program{};
  if (pcap_compile(dead.handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
    throw FilterError(pcap_geterr(dead.handle));
  static_assert(sizeof(bpf_insn) == kBpfInstructionSize);
  std::vector<uint8_t> instructions(program.bf_len * kBpfInstructionSize);
  std::memcpy(instructions.data(), program.bf_insns, instructions.size());
  pcap_freecode(&program);
  return instructions;
}

struct SavefileWriter::State {
  DeadHandle dead;
  pcap_dumper_t* dumper = nullptr;
};

SavefileWriter::SavefileWriter(const std::string& path, const std::string&)
    : state_(std::make_unique<State>()) {
  if (!state_->dead.handle) throw PcapToolError("the capture library cannot write savefiles");
  state_->dumper = pcap_dump_open(state_->dead.handle, path.c_str());
  if (!state_->dumper)
    throw PcapToolError(std::string("cannot create savefile: ") + pcap_geterr(state_->dead.handle));
}

SavefileWriter::~SavefileWriter() {
  if (state_->dumper) pcap_dump_close(state_->dumper);
}

void SavefileWriter::write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length) {
  pcap_pkthdr header{};
  header.ts.tv_sec = static_cast<time_t>(timestamp / 10'000'000);
  header.ts.tv_usec = static_cast<suseconds_t>(timestamp % 10'000'000 / 10);
  header.caplen = static_cast<bpf_u_int32>(data.size());
  header.len = wire_length;
  pcap_dump(reinterpret_cast<u_char*>(state_->dumper), &header, data.data());
}

}  // namespace pkdv_capture
