#include "options.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace pkdv_capture {
namespace {

std::optional<uint64_t> parse_number(std::string_view text, uint64_t low, uint64_t high) {
  uint64_t value = 0;
  auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

// Single-letter options that take a value, as "-c 5" or "-c5".
constexpr std::string_view kValueLetters = "icrwsfFQ";
// Single-letter flags, which may be grouped ("-nqe").
constexpr std::string_view kFlagLetters = "hDnqexXpvtAlU#";
constexpr int kMaxTimeLetters = 5;

struct Parser {
  Options options;
  bool capture_only_used = false;  // an option that means nothing outside a capture
  bool send_pacing_used = false;
  int modes_given = 0;
  std::vector<std::string_view> expression;

  void flag(char letter) {
    switch (letter) {
      case 'h':
        options.mode = Mode::kHelp;
        break;
      case 'D':
        options.mode = Mode::kList;
        ++modes_given;
        break;
      case 'n':  // names are never resolved
        break;
      case 'q':
        options.quiet = true;
        break;
      case 'e':
        options.link_header = true;
        capture_only_used = true;
        break;
      case 'x':
      case 'X':
        options.hex_dump = std::min(options.hex_dump + 1, 2);
        options.hex_ascii |= letter == 'X';
        capture_only_used = true;
        break;
      case 'A':
        options.ascii_dump = true;
        capture_only_used = true;
        break;
      case 't':
        ++options.time_letters;
        capture_only_used = true;
        break;
      case 'l':
        options.line_buffered = true;
        break;
      case 'U':
        options.packet_buffered = true;
        capture_only_used = true;
        break;
      case '#':  // every line starts with its number already
        break;
      case 'p':
        options.promiscuous = false;
        capture_only_used = true;
        break;
      case 'v':
        options.verbose = true;
        break;
    }
  }

  std::optional<UsageError> value(std::string_view option, std::string_view text) {
    auto number = [&](uint64_t low, uint64_t high) { return parse_number(text, low, high); };
    if (option == "-i") {
      if (text.empty()) return UsageError{"-i needs an adapter name"};
      options.adapter = std::string(text);
    } else if (option == "-r") {
      if (text.empty()) return UsageError{"-r needs a file name"};
      options.read_path = std::string(text);
      capture_only_used = true;
    } else if (option == "-c") {
      auto count = number(1, UINT64_MAX);
      if (!count)
        return UsageError{"-c needs a positive frame count, not '" + std::string(text) + "'"};
      options.count = *count;
      capture_only_used = true;
    } else if (option == "--reads") {
      auto reads = number(1, kMaxReads);
      if (!reads)
        return UsageError{"--reads needs a read count from 1 to " + std::to_string(kMaxReads) +
                          ", not '" + std::string(text) + "'"};
      options.reads = static_cast<uint32_t>(*reads);
      capture_only_used = true;
    } else if (option == "-s") {
      auto length = number(0, kMaxSnapshotLength);
      if (!length)
        return UsageError{"-s needs a snapshot length from 0 to " +
                          std::to_string(kMaxSnapshotLength) + ", not '" + std::string(text) + "'"};
      options.snapshot_length = *length == 0 ? kMaxSnapshotLength : uint32_t(*length);
      capture_only_used = true;
    } else if (option == "-f") {
      options.filter = std::string(text);
      capture_only_used = true;
    } else if (option == "-F") {
      if (text.empty()) return UsageError{"-F needs a file name"};
      options.filter_file = std::string(text);
      capture_only_used = true;
    } else if (option == "-Q") {
      if (text == "in")
        options.direction = Direction::kIn;
      else if (text == "out")
        options.direction = Direction::kOut;
      else if (text == "inout")
        options.direction = Direction::kInOut;
      else
        return UsageError{"-Q needs in, out or inout, not '" + std::string(text) + "'"};
      capture_only_used = true;
    } else if (option == "-w") {
      if (text.empty()) return UsageError{"-w needs a file name"};
      options.write_path = std::string(text);
      capture_only_used = true;
    } else if (option == "--rate") {
      auto rate = number(1, 10'000'000);
      if (!rate)
        return UsageError{"--rate needs frames per second from 1, not '" + std::string(text) + "'"};
      options.pacing = Pacing::kFixedRate;
      options.rate = static_cast<uint32_t>(*rate);
      send_pacing_used = true;
    } else {  // --send
      if (text.empty()) return UsageError{"--send needs a file name"};
      options.mode = Mode::kSend;
      options.send_path = std::string(text);
      ++modes_given;
    }
    return std::nullopt;
  }

  // Options that mean nothing in the mode asked for are refused rather than ignored.
  std::optional<UsageError> check() {
    if (!expression.empty()) {
      if (options.filter || options.filter_file)
        return UsageError{"give the filter with -f, -F or after the options, not two of them"};
      std::string joined;
      for (std::string_view word : expression) {
        if (!joined.empty()) joined += ' ';
        joined += word;
      }
      options.filter = joined;
      capture_only_used = true;
    }
    if (options.filter && options.filter_file)
      return UsageError{"give the filter with -f, -F or after the options, not two of them"};
    if (options.time_letters > kMaxTimeLetters) return UsageError{"-t is given at most 5 times"};
    if (options.print && !options.write_path) return UsageError{"--print goes with -w"};
    if (modes_given > 1) return UsageError{"-D/--list, --info and --send cannot be combined"};
    if (options.read_path && options.adapter) return UsageError{"-r and -i cannot be combined"};
    if (send_pacing_used && options.mode != Mode::kSend)
      return UsageError{"--rate and --top-speed apply to --send only"};
    if (options.mode == Mode::kCapture || options.mode == Mode::kHelp ||
        options.mode == Mode::kVersion)
      return std::nullopt;
    if (capture_only_used)
      return UsageError{"-r, -c, --reads, -s, -e, -x, -A, -t, -U, -p, -w, -Q and filters apply to "
                        "capturing only"};
    if (options.mode == Mode::kList && options.adapter) return UsageError{"-D/--list takes no -i"};
    if ((options.mode == Mode::kInfo || options.mode == Mode::kSend) && !options.adapter)
      return UsageError{"--info and --send need an adapter (-i ADAPTER)"};
    return std::nullopt;
  }
};

}  // namespace

Options::Options() : reads(kDefaultReads), snapshot_length(kMaxSnapshotLength) {}

std::variant<Options, UsageError> parse_options(std::span<const std::string_view> arguments) {
  Parser parser;
  Options& options = parser.options;
  for (size_t i = 0; i < arguments.size(); ++i) {
    std::string_view argument = arguments[i];
    auto next = [&]() -> std::optional<std::string_view> {
      if (i + 1 >= arguments.size()) return std::nullopt;
      return arguments[++i];
    };
    if (argument == "--help") {
      options.mode = Mode::kHelp;
      return options;
    }
    if (argument == "--version") {
      options.mode = Mode::kVersion;
      return options;
    }
    if (argument == "--list" || argument == "--info") {
      options.mode = argument == "--list" ? Mode::kList : Mode::kInfo;
      ++parser.modes_given;
      continue;
    }
    if (argument == "--utc") {
      options.utc = true;
      continue;
    }
    if (argument == "--print") {
      options.print = true;
      continue;
    }
    if (argument == "--") {  // the rest is the filter expression, even words starting with '-'
      parser.expression.insert(parser.expression.end(), arguments.begin() + i + 1,
                               arguments.end());
      break;
    }
    if (argument == "--top-speed") {
      options.pacing = Pacing::kTopSpeed;
      parser.send_pacing_used = true;
      continue;
    }
    if (argument == "--reads" || argument == "--send" || argument == "--rate") {
      std::optional<std::string_view> text = next();
      if (!text) return UsageError{std::string(argument) + " needs a value"};
      if (auto error = parser.value(argument, *text)) return *error;
      continue;
    }
    if (argument.starts_with("--"))
      return UsageError{"unknown argument '" + std::string(argument) + "'"};
    if (argument.size() < 2 || argument[0] != '-') {
      // The rest of the line is the filter expression, as in tcpdump.
      parser.expression.push_back(argument);
      continue;
    }
    // A group of single letters: flags, then at most one letter that takes a value (the rest
    // of the argument, or the next one).
    for (size_t at = 1; at < argument.size(); ++at) {
      char letter = argument[at];
      if (kFlagLetters.find(letter) != std::string_view::npos) {
        parser.flag(letter);
        if (options.mode == Mode::kHelp) return options;
        continue;
      }
      if (kValueLetters.find(letter) == std::string_view::npos)
        return UsageError{"unknown argument '" + std::string(argument) + "'"};
      std::string option = {'-', letter};
      std::optional<std::string_view> text = argument.substr(at + 1);
      if (text->empty()) text = next();
      if (!text) return UsageError{option + " needs a value"};
      if (auto error = parser.value(option, *text)) return *error;
      break;
    }
  }
  if (auto error = parser.check()) return *error;
  return options;
}

std::string usage_text() {
  return "usage: pkdv-capture [-AeflnpqUvxX#] [-t..-ttttt] [-i ADAPTER | -r FILE] [-c COUNT]\n"
         "                    [-s SNAPLEN] [-w FILE [--print]] [-F FILE] [-Q in|out|inout]\n"
         "                    [--reads N] [--utc] [--] [EXPRESSION]\n"
         "       pkdv-capture -D | --list\n"
         "       pkdv-capture --info -i ADAPTER\n"
         "       pkdv-capture --send FILE -i ADAPTER [-q] [--rate N | --top-speed]\n"
         "\n"
         "  -i ADAPTER   a name or number from -D, or file://PATH (default: the first\n"
         "               adapter that is up)\n"
         "  -r FILE      read a savefile (pcap or pcapng); '-' and FIFOs on POSIX\n"
         "  -c COUNT     stop after COUNT frames       -w FILE  write a savefile ('-': stdout)\n"
         "  -s SNAPLEN   bytes -w keeps (0: 262144)    --print  lines too with -w\n"
         "  EXPRESSION   capture filter; or -f EXPRESSION, or -F FILE holding it\n"
         "  -e  link-level header   -x/-xx  hex without/with it   -X/-XX  and ASCII\n"
         "  -A  ASCII only          -q  shorter lines             -v  IP/TCP detail\n"
         "  -t  no time, -tt epoch, -ttt since previous, -ttttt since first\n"
         "  -p  no promiscuous mode -l  line-buffered  -U  flush -w per frame\n"
         "  -Q in|out    frames received or sent only (Ethernet adapters)\n"
         "  --utc        times in UTC (default: local)   --reads N  reads outstanding\n"
         "  -D, --list   numbered adapters               --info  the adapter's NDIS answers\n"
         "  --send FILE  send a savefile's frames, as captured, --rate N/s or --top-speed\n"
         "  --version    versions of pkdv-capture, the library and the capture library\n";
}

}  // namespace pkdv_capture
