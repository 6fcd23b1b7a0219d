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

inline constexpr int kLinkTypeEthernet = 1;
inline constexpr int kSnapshotLength = 65536;
inline constexpr size_t kBpfInstructionSize = 8;

// Compiles `expression` for Ethernet frames into BPF instructions, 8 bytes each, in the
// layout PKDV_SetBPFProgram takes. Throws PcapToolError with the capture library's reason.
std::vector<uint8_t> compile_filter(const std::string& expression);

// A savefile written through the capture library's dump API (Ethernet, snapshot 65536).
class SavefileWriter {
 public:
  // Creates `path`. Throws PcapToolError.
  explicit SavefileWriter(const std::string& path);
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
