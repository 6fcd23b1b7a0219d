// The command line of pkdv-capture, in tcpdump's habits where they fit.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace pkdv_capture {

enum class Mode { kCapture, kList, kInfo, kSend, kHelp, kVersion };

// Which frames -Q keeps: all, those the adapter received, or those it sent.
enum class Direction { kInOut, kIn, kOut };

// How --send spaces the frames.
enum class Pacing { kAsCaptured, kFixedRate, kTopSpeed };

struct Options {
  Mode mode = Mode::kCapture;
  std::optional<std::string> adapter;     // -i NAME, file://PATH or a number from -D
  std::optional<std::string> read_path;   // -r FILE
  uint64_t count = 0;                     // -c; 0: until interrupted or the savefile ends
  uint32_t reads;                         // --reads: kept outstanding
  std::optional<std::string> filter;      // -f or the trailing expression
  std::optional<std::string> write_path;  // -w ("-": standard output)
  uint32_t snapshot_length;               // -s: bytes of each frame written by -w
  std::optional<std::string> filter_file;  // -F: the filter read from a file
  bool quiet = false;                     // -q
  bool link_header = false;               // -e
  int hex_dump = 0;                       // -x/-X 1, -xx/-XX 2 (with the link header)
  bool hex_ascii = false;                 // -X, -XX: ASCII beside the hex
  bool ascii_dump = false;                // -A
  int time_letters = 0;                   // -t once for each letter, up to 5
  bool print = false;                     // --print: lines even with -w
  bool line_buffered = false;             // -l
  bool packet_buffered = false;           // -U
  Direction direction = Direction::kInOut;  // -Q
  bool promiscuous = true;                // -p clears it
  bool verbose = false;                   // -v
  bool utc = false;                       // --utc
  std::string send_path;                  // --send
  Pacing pacing = Pacing::kAsCaptured;    // --rate, --top-speed
  uint32_t rate = 0;                      // --rate: frames per second

  Options();
  bool writes_to_stdout() const { return write_path == "-"; }
};

struct UsageError {
  std::string message;
};

// As many as a run adds up to by itself (ReadRing::kMostAddedReads): their buffers are then
// first touched at the start, never in the middle of a burst (with 1024 at first, a burst
// under load lost frames while 3072 more were added).
inline constexpr uint32_t kDefaultReads = 4096;
inline constexpr uint32_t kMaxReads = 16384;
inline constexpr uint32_t kMaxSnapshotLength = 262144;

// Parses the arguments after the program name.
std::variant<Options, UsageError> parse_options(std::span<const std::string_view> arguments);

// The text that -h / --help prints: one screen.
std::string usage_text();

}  // namespace pkdv_capture
