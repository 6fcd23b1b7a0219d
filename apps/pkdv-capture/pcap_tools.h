// The two jobs the client gives the capture library directly: compiling a filter expression
// and writing a savefile. POSIX builds link libpcap; Windows builds load wpcap.dll at run time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <stdexcept>
#include <string>
#include <vector>

namespace pkdv_capture {

struct PcapToolError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The capture library refused the expression itself.
struct FilterError : PcapToolError {
  using PcapToolError::PcapToolError;
};

inline constexpr int kLinkTypeEthernet = 1;
inline constexpr int kSnapshotLength = 65536;
inline constexpr size_t kBpfInstructionSize = 8;

// Both jobs need a capture handle of the right link type: a dead one (Ethernet, snapshot
// 65536) where the capture library has it. Wine's forwarder exports pcap_open_dead as a stub
// that ends the process, so there a handle opened on `adapter` (the source being captured)
// stands in.

// Compiles `expression` for Ethernet frames into BPF instructions, 8 bytes each, in the
// layout PKDV_SetBPFProgram takes. Throws FilterError with the capture library's reason, or
// PcapToolError when it cannot compile at all.
std::vector<uint8_t> compile_filter(const std::string& expression, const std::string& adapter);

// A savefile written through the capture library's dump API.
class SavefileWriter {
 public:
  // Creates `path`. Throws PcapToolError.
  SavefileWriter(const std::string& path, const std::string& adapter);
  ~SavefileWriter();
  SavefileWriter(const SavefileWriter&) = delete;
  SavefileWriter& operator=(const SavefileWriter&) = delete;

  // Appends one frame; `timestamp` in 100 ns units since 1970-01-01 UTC.
  void write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length);

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pkdv_capture
