// What the client asks of the capture library directly: link types, compiling filter
// expressions, writing and reading savefiles, the adapters' state. POSIX builds link libpcap;
// Windows builds load wpcap.dll at run time.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
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

// A savefile that cannot be read to its end; the message says where it broke.
struct SavefileDamage : PcapToolError {
  using PcapToolError::PcapToolError;
};

inline constexpr size_t kBpfInstructionSize = 8;
inline constexpr char kAdapterSourcePrefix[] = "rpcap://";

// The capture library's version text.
std::string capture_library_version();

// The link type (DLT_ value) the capture library gives `adapter`, a name as -D shows it.
// Throws PcapToolError.
int adapter_link_type(const std::string& adapter);

// The state of each adapter the capture library knows, e.g. "Up, Running, Connected", keyed by
// the name the capture library gives it (without "rpcap://"); empty where it cannot tell.
std::map<std::string, std::string> adapter_states();

// Both jobs below need a capture handle of the right link type: a dead one where the capture
// library has it. Wine's forwarder exports pcap_open_dead as a stub that ends the process, so
// there a handle opened on `adapter` (the source being captured) stands in, with that
// adapter's own link type.

// Compiles `expression` for frames of `link_type` into BPF instructions, 8 bytes each, in the
// layout PKDV_SetBPFProgram takes. Throws FilterError with the capture library's reason, or
// PcapToolError when it cannot compile at all.
std::vector<uint8_t> compile_filter(const std::string& expression, int link_type,
                                    const std::string& adapter);

// A pcap savefile written through the capture library's dump API.
class SavefileWriter {
 public:
  // Creates `path` ("-": standard output) labelled with `link_type`, frames cut to
  // `snapshot_length`. Throws PcapToolError.
  SavefileWriter(const std::string& path, int link_type, uint32_t snapshot_length,
                 const std::string& adapter);
  ~SavefileWriter();
  SavefileWriter(const SavefileWriter&) = delete;
  SavefileWriter& operator=(const SavefileWriter&) = delete;

  // Appends one frame; `timestamp` in 100 ns units since 1970-01-01 UTC. Throws
  // PcapToolError once writing has failed.
  void write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length);
  // Writes out what is buffered (-U). Throws PcapToolError when that fails.
  void flush();
  // Writes out what is buffered and closes the file. Throws PcapToolError when that fails.
  void finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

struct SavedFrame {
  int64_t timestamp = 0;  // 100 ns units since 1970-01-01 UTC
  uint32_t wire_length = 0;
  std::span<const uint8_t> data;  // valid until the next call
};

// The frames of a savefile (pcap or pcapng) as the capture library reads them.
class SavefileFrames {
 public:
  // Throws PcapToolError when the file cannot be opened or is no savefile.
  explicit SavefileFrames(const std::string& path);
  ~SavefileFrames();
  SavefileFrames(const SavefileFrames&) = delete;
  SavefileFrames& operator=(const SavefileFrames&) = delete;

  int link_type() const;
  // Compiles `expression` on this savefile's own handle, as tcpdump does: the file's link type
  // and byte order decide, e.g., which address family values a BSD loopback "ip6" matches.
  // Throws FilterError with the capture library's reason.
  std::vector<uint8_t> compile_filter(const std::string& expression) const;
  // The next frame, or none at the end. Throws SavefileDamage, saying after which frame the
  // file broke and why.
  std::optional<SavedFrame> next();

 private:
  struct State;
  std::unique_ptr<State> state_;
  friend class SavefileStream;
};

// The library opens savefiles by name and reads them itself, which a stream (standard input,
// a FIFO) does not allow twice: the stream is opened here, and once started its frames are
// passed on, as they arrive, through a pipe the library opens by name. Not supported on
// Windows (throws PcapToolError saying so before reading anything).
class SavefileStream {
 public:
  // Opens `path` ("-": standard input) and writes the savefile header into the pipe. Throws
  // PcapToolError.
  explicit SavefileStream(const std::string& path);
  ~SavefileStream();
  SavefileStream(const SavefileStream&) = delete;
  SavefileStream& operator=(const SavefileStream&) = delete;

  // The stream's own handle: link type and filters, before start().
  SavefileFrames& frames();
  // The name the library opens.
  std::string path() const;
  // Starts passing the frames on, once the library's filter is in place.
  void start();
  // Once the library has it open: drops our own copy of the reading end, so that a reader
  // stopping early (-c) ends the relay.
  void opened();
  // Waits for the relay to end; the damage it met, if any.
  std::optional<std::string> finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace pkdv_capture
