#include "options.h"

#include <charconv>

namespace pkdv_capture {
namespace {

std::optional<uint64_t> parse_number(std::string_view text, uint64_t low, uint64_t high) {
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

// Capture options have no meaning for the other modes; reject them instead of ignoring them.
std::optional<UsageError> check_mode_combination(const Options& options, bool capture_only_used,
                                                 int modes_given) {
  if (modes_given > 1) return UsageError{"--list, --info and --send cannot be combined"};
  if (options.mode == Mode::kCapture || options.mode == Mode::kHelp) return std::nullopt;
  if (capture_only_used) return UsageError{"-c, -r, -f and -w apply to capturing only"};
  if (options.mode == Mode::kList && options.adapter) return UsageError{"--list takes no -i"};
  if ((options.mode == Mode::kInfo || options.mode == Mode::kSend) && !options.adapter)
    return UsageError{"--info and --send need an adapter (-i ADAPTER)"};
  return std::nullopt;
}

}  // namespace

std::variant<Options, UsageError> parse_options(std::span<const std::string_view> arguments) {
  Options options;
  bool capture_only_used = false;
  int modes_given = 0;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    auto value = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= arguments.size()) return std::nullopt;
      return arguments[++i];
    };
    if (argument == "-h" || argument == "--help") {
      options.mode = Mode::kHelp;
      return options;
    }
    if (argument == "--list" || argument == "--info") {
      options.mode = argument == "--list" ? Mode::kList : Mode::kInfo;
      ++modes_given;
      continue;
    }
    if (argument == "-q") {
      options.quiet = true;
      continue;
    }
    bool takes_value = argument == "-i" || argument == "-c" || argument == "-r" ||
                       argument == "-f" || argument == "-w" || argument == "--send";
    if (!takes_value) return UsageError{"unknown argument '" + std::string(argument) + "'"};
    std::optional<std::string_view> text = value();
    if (!text) return UsageError{std::string(argument) + " needs a value"};

    if (argument == "-i") {
      if (text->empty()) return UsageError{"-i needs an adapter name"};
      options.adapter = std::string(*text);
    } else if (argument == "-c") {
      auto count = parse_number(*text, 1, UINT64_MAX);
      if (!count)
        return UsageError{"-c needs a positive frame count, not '" + std::string(*text) + "'"};
      options.count = *count;
      capture_only_used = true;
    } else if (argument == "-r") {
      auto reads = parse_number(*text, 1, kMaxReads);
      if (!reads)
        return UsageError{"-r needs a read count from 1 to " + std::to_string(kMaxReads) +
                          ", not '" + std::string(*text) + "'"};
      options.reads = static_cast<uint32_t>(*reads);
      capture_only_used = true;
    } else if (argument == "-f") {
      options.filter = std::string(*text);
      capture_only_used = true;
    } else if (argument == "-w") {
      if (text->empty()) return UsageError{"-w needs a file name"};
      options.write_path = std::string(*text);
      capture_only_used = true;
    } else {
      if (text->empty()) return UsageError{"--send needs a file name"};
      options.mode = Mode::kSend;
      options.send_path = std::string(*text);
      ++modes_given;
    }
  }
  if (auto error = check_mode_combination(options, capture_only_used, modes_given)) return *error;
  return options;
}

std::string usage_text() {
  return "usage: pkdv-capture [-i ADAPTER] [-c COUNT] [-r READS] [-f FILTER] [-w FILE.pcap] [-q]\n"
         "       pkdv-capture --list\n"
         "       pkdv-capture --info -i ADAPTER\n"
         "       pkdv-capture --send FILE.pcap -i ADAPTER [-q]\n"
         "\n"
         "  -i ADAPTER   adapter name as --list shows it, or file://PATH for a savefile;\n"
         "               without -i the sample savefile that comes with pkdv-capture is read\n"
         "  -c COUNT     stop after COUNT frames\n"
         "  -r READS     reads kept outstanding (default 8, at most 1024)\n"
         "  -f FILTER    capture filter expression (libpcap syntax)\n"
         "  -w FILE      also write the frames to a savefile, with their capture times\n"
         "  -q           no line per frame, only the summary\n"
         "  --list       list the adapters\n"
         "  --info       show the adapter's NDIS answers\n"
         "  --send FILE  send every frame of a savefile\n";
}

}  // namespace pkdv_capture
