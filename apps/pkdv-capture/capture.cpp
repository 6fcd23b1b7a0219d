#include "capture.h"

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <filesystem>
#include <optional>

#include "adapter.h"
#include "address_text.h"
#include "frame_summary.h"
#include "ndis.h"
#include "options.h"
#include "output.h"
#include "pcap_tools.h"
#include "platform.h"
#include "read_ring.h"
#include "source.h"

namespace pkdv_capture {
namespace {

// How long one wait lasts at most: the delay before Ctrl-C is noticed.
constexpr uint32_t kWaitMilliseconds = 100;
constexpr std::chrono::seconds kProgressInterval{1};
// The time column for each count of -t letters.
constexpr TimeColumn kTimeColumns[] = {TimeColumn::kDateTime, TimeColumn::kNone,
                                       TimeColumn::kEpoch, TimeColumn::kSincePrevious,
                                       TimeColumn::kDateTime, TimeColumn::kSinceFirst};

std::vector<uint8_t> compiled_filter(const std::string& expression, int link_type,
                                     const std::string& source) {
  try {
    return compile_filter(expression, link_type, source);
  } catch (const FilterError& error) {
    throw FilterError("bad filter '" + expression + "': " + error.what());
  }
}

std::vector<uint8_t> compiled_filter(const std::string& expression, const SavefileFrames& file) {
  try {
    return file.compile_filter(expression);
  } catch (const FilterError& error) {
    throw FilterError("bad filter '" + expression + "': " + error.what());
  }
}

// -F FILE: the whole file is the expression, as tcpdump reads it ('#' starts no comment).
std::string filter_from_file(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  if (file) text << file.rdbuf();
  if (!file || file.bad())
    throw AdapterError("cannot read filter file " + path + ": " + std::strerror(errno));
  return text.str();
}

// -Q in / -Q out on Ethernet: the library hands back the frames of both directions, and the
// adapter's own address tells them apart (what it sent carries it as the source).
std::string with_direction(const std::optional<std::string>& expression, Direction direction,
                           AdapterHandle adapter, int link_type) {
  if (direction == Direction::kInOut) return expression.value_or("");
  NdisAnswer address = ndis_query(adapter, kOidCurrentAddress);
  if (link_type != kLinkTypeEthernet || !address.answered() || address.data.size() < 6)
    throw AdapterError("-Q in and -Q out need an Ethernet adapter that reports its address");
  std::string own = mac_text(std::span<const uint8_t>(address.data).first<6>());
  std::string chosen = (direction == Direction::kIn ? "not ether src " : "ether src ") + own;
  return expression ? "(" + *expression + ") and " + chosen : chosen;
}

// Promiscuous mode through the library's own NDIS packet-filter request, switched back to the
// adapter's previous filter when the capture ends.
class PromiscuousMode {
 public:
  PromiscuousMode(AdapterHandle adapter, const std::string& name) : adapter_(adapter) {
    NdisAnswer current = ndis_query(adapter, kOidCurrentPacketFilter);
    if (current.answered() && current.data.size() >= 4) {
      previous_ = current.word();
      if (previous_ & kPacketFilterPromiscuous) return;  // already on; nothing to restore
      NdisAnswer set =
          ndis_set(adapter, kOidCurrentPacketFilter, previous_ | kPacketFilterPromiscuous);
      if (set.result == NDIS_STATUS_SUCCESS || set.result == PKDV_NDIS_STATUS_NO_DATA) {
        switched_ = true;
        return;
      }
    }
    std::fprintf(stderr, "pkdv-capture: %s stays out of promiscuous mode (its driver refused)\n",
                 name.c_str());
  }
  ~PromiscuousMode() {
    if (switched_) ndis_set(adapter_, kOidCurrentPacketFilter, previous_);
  }
  PromiscuousMode(const PromiscuousMode&) = delete;
  PromiscuousMode& operator=(const PromiscuousMode&) = delete;

 private:
  AdapterHandle adapter_;
  uint32_t previous_ = 0;
  bool switched_ = false;  // then previous_ is to be restored
};

// "N packets captured" (and of a live adapter ", D dropped"), rewritten in place every second
// while nothing else shows progress.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  void update(uint64_t frames, const ReadRing& ring, bool live) {
    auto now = std::chrono::steady_clock::now();
    if (!shown_ || now - last_ < kProgressInterval) return;
    last_ = now;
    std::optional<uint64_t> dropped = live ? ring.frames_dropped() : std::nullopt;
    std::fprintf(stderr, "\r%llu packets captured", (unsigned long long)frames);
    if (dropped) std::fprintf(stderr, ", %llu dropped", (unsigned long long)*dropped);
    std::fflush(stderr);
    written_ = true;
  }
  void clear() {
    if (written_) std::fprintf(stderr, "\r%60s\r", "");
  }

 private:
  bool shown_;
  bool written_ = false;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace

int run_capture(const Options& options) {
  std::string source = chosen_source(options);
  const bool live = !source.starts_with(kFileSourcePrefix);
  const std::string path = live ? "" : source.substr(sizeof kFileSourcePrefix - 1);
  // A savefile is opened once here: its handle gives the link type, compiles the filter as
  // for that file, and tells at the end whether the file was whole. A stream (standard
  // input, a FIFO) can be read only once, so the library gets its frames through that handle,
  // once the filter is in place.
  if (!live && options.direction != Direction::kInOut)
    throw AdapterError("-Q applies to adapters: a savefile holds no direction");
  std::optional<std::string> expression = options.filter;
  if (options.filter_file) expression = filter_from_file(*options.filter_file);
  std::optional<SavefileFrames> savefile_frames;
  std::optional<SavefileStream> stream;
  std::error_code ignored;
  if (!live && (path == "-" || (std::filesystem::exists(path, ignored) &&
                                !std::filesystem::is_regular_file(path, ignored) &&
                                !std::filesystem::is_directory(path, ignored)))) {
    stream.emplace(path);
    source = kFileSourcePrefix + stream->path();
  }
  OpenAdapter adapter(source);
  if (stream) stream->opened();
  if (!live && !stream) savefile_frames.emplace(path);
  SavefileFrames* file = stream ? &stream->frames() : savefile_frames ? &*savefile_frames : nullptr;
  const int link_type = live ? source_link_type(adapter.handle(), source) : file->link_type();
  if (live) expression = with_direction(expression, options.direction, adapter.handle(), link_type);
  if (expression && !expression->empty()) {
    std::vector<uint8_t> filter = live ? compiled_filter(*expression, link_type, source)
                                       : compiled_filter(*expression, *file);
    if (!PKDV_SetBPFProgram(adapter.handle(), filter.data(), static_cast<uint32_t>(filter.size())))
      throw AdapterError("the adapter refused the filter '" + *expression + "'");
  }
  if (stream) stream->start();
  // Linux's "any" has no promiscuous mode of its own to switch; tcpdump stays silent there.
  std::optional<PromiscuousMode> promiscuous;
  if (live && options.promiscuous && !is_any_adapter(source))
    promiscuous.emplace(adapter.handle(), source);
  std::optional<SavefileWriter> savefile;
  if (options.write_path)
    savefile.emplace(*options.write_path, link_type, options.snapshot_length, source);

  // -w FILE prints no lines unless --print asks; with -w - the savefile is the only thing on
  // standard output.
  const bool lines = (!options.write_path || options.print) && !options.writes_to_stdout();
  if (options.line_buffered) std::setvbuf(stdout, nullptr, _IOLBF, BUFSIZ);
  LineFormat format{.link_type = link_type,
                    .utc = options.utc,
                    .link_header = options.link_header,
                    .verbose = options.verbose,
                    .quiet = options.quiet,
                    .time = kTimeColumns[std::min(options.time_letters, 5)]};
  const size_t link_header_length = link_header_size(link_type);
  bool first = true;
  RunTally tally;
  std::optional<std::string> write_failure;
  auto on_frame = [&](const PacketBuffer& buffer) {
    tally.add(buffer);
    uint32_t held = std::min(buffer.captured_length, buffer.capacity);
    if (lines) {
      if (first && buffer.status != NDIS_STATUS_FAILURE) format.reference = buffer.timestamp;
      std::string text = frame_line(buffer, format) + "\n";
      if (buffer.status != NDIS_STATUS_FAILURE) {
        first = false;
        if (format.time == TimeColumn::kSincePrevious) format.reference = buffer.timestamp;
      }
      if (buffer.status == NDIS_STATUS_SUCCESS && (options.hex_dump || options.ascii_dump)) {
        // -x and -A leave out the link-level header, -xx shows it, as tcpdump does.
        std::span<const uint8_t> bytes{buffer.data, held};
        if (options.hex_dump != 2) bytes = bytes.subspan(std::min(bytes.size(), link_header_length));
        text += options.hex_dump ? hex_dump(bytes, options.hex_ascii) : ascii_dump(bytes);
      }
      if (std::fputs(text.c_str(), stdout) == EOF) {
        write_failure = "cannot write to standard output: " + std::string(std::strerror(errno));
        return false;
      }
    }
    if (!savefile || buffer.status != NDIS_STATUS_SUCCESS) return true;
    // No exception may leave a completion routine: the library's frames are below it.
    try {
      savefile->write(static_cast<int64_t>(buffer.timestamp), {buffer.data, held},
                      buffer.wire_length);
      if (options.packet_buffered) savefile->flush();
    } catch (const PcapToolError& error) {
      write_failure = error.what();
      return false;
    }
    return true;
  };
  ReadRing ring(adapter.handle(),
                {.reads = options.reads,
                 .most_reads = std::max(options.reads, ReadRing::kMostAddedReads),
                 .count = options.count,
                 .savefile = !live},
                on_frame);

  catch_interrupts();
  std::fprintf(
      stderr, "pkdv-capture: %s %s, link type %s\n", live ? "listening on" : "reading from",
      live ? source.c_str() : path.c_str(), link_type_name(link_type).c_str());
  ProgressLine progress(stderr_is_terminal() && !lines);
  auto start = std::chrono::steady_clock::now();
  ring.start();
  while (!ring.finished() && !interrupted() && !write_failure) {
    ring.wait(kWaitMilliseconds);
    if (lines && std::fflush(stdout) != 0 && !write_failure)
      write_failure = "cannot write to standard output: " + std::string(std::strerror(errno));
    progress.update(tally.frames, ring, live);
  }
  ring.stop();
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  progress.clear();
  if (savefile && !write_failure) {
    try {
      savefile->finish();
    } catch (const PcapToolError& error) {
      write_failure = error.what();
    }
  }

  if (std::fflush(stdout) != 0 && !write_failure)
    write_failure = "cannot write to standard output: " + std::string(std::strerror(errno));
  std::optional<LiveCounts> live_counts;
  if (live) live_counts = LiveCounts{ring.ran_out(), ring.reads(), ring.frames_dropped()};
  std::fprintf(stderr, "%s", summary_text(tally, elapsed.count(), live_counts).c_str());
  if (write_failure) {
    std::fprintf(stderr, "pkdv-capture: %s\n", write_failure->c_str());
    return 1;
  }
  if (ring.failed()) {
    std::fprintf(stderr, "pkdv-capture: capture error on %s\n", source.c_str());
    return 1;
  }
  if (ring.source_ended()) {
    // The library ends a savefile the same way whether it was whole or broken: the capture
    // library, reading it to its end through our handle (or the relay, which did), says which.
    std::optional<std::string> damage;
    if (stream) {
      damage = stream->finish();
    } else {
      try {
        while (file->next()) {
        }
      } catch (const SavefileDamage& error) {
        damage = error.what();
      }
    }
    if (damage) {
      std::fprintf(stderr, "pkdv-capture: %s\n", damage->c_str());
      return 1;
    }
  }
  return 0;
}

}  // namespace pkdv_capture
