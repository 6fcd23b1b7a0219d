// The command line of pkdv-capture.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>

namespace pkdv_capture {

enum class Mode { kCapture, kList, kInfo, kSend, kHelp };

struct Options {
  Mode mode = Mode::kCapture;
  std::optional<std::string> adapter;     // -i; none: the embedded sample savefile
  uint64_t count = 0;                     // -c; 0: until interrupted or the savefile ends
  uint32_t reads = 8;                     // -r: reads kept outstanding
  std::optional<std::string> filter;      // -f
  std::optional<std::string> write_path;  // -w
  std::string send_path;                  // --send
  bool quiet = false;                     // -q
};

struct UsageError {
  std::string message;
};

inline constexpr uint32_t kMaxReads = 1024;

// Parses the arguments after the program name.
std::variant<Options, UsageError> parse_options(std::span<const std::string_view> arguments);

// The text that -h / --help prints.
std::string usage_text();

}  // namespace pkdv_capture
