#include "capture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>

#include "adapter.h"
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

// "N packets captured", rewritten in place every second while nothing else shows progress.
class ProgressLine {
 public:
  explicit ProgressLine(bool shown) : shown_(shown) {}
  void update(uint64_t frames) {
    auto now = std::chrono::steady_clock::now();
    if (!shown_ || now - last_ < kProgressInterval) return;
    last_ = now;
    std::fprintf(stderr, "\r%llu packets captured", (unsigned long long)frames);
    std::fflush(stderr);
    written_ = true;
  }
  void clear() {
    if (written_) std::fprintf(stderr, "\r%40s\r", "");
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
  // input, a FIFO) can be read only once, so the library gets its frames through that handle.
  std::optional<SavefileFrames> savefile_frames;
  std::optional<SavefileStream> stream;
  if (!live && !std::filesystem::is_regular_file(path)) {
    savefile_frames.emplace(path);
    stream.emplace(*savefile_frames);
    source = kFileSourcePrefix + stream->path();
  }
  OpenAdapter adapter(source);
  if (stream) stream->opened();
  if (!live && !savefile_frames) savefile_frames.emplace(path);
  const int link_type =
      live ? source_link_type(adapter.handle(), source) : savefile_frames->link_type();
  if (options.filter) {
    std::vector<uint8_t> filter = live ? compiled_filter(*options.filter, link_type, source)
                                       : compiled_filter(*options.filter, *savefile_frames);
    if (!PKDV_SetBPFProgram(adapter.handle(), filter.data(), static_cast<uint32_t>(filter.size())))
      throw AdapterError("the adapter refused the filter '" + *options.filter + "'");
  }
  std::optional<PromiscuousMode> promiscuous;
  if (live && options.promiscuous) promiscuous.emplace(adapter.handle(), source);
  std::optional<SavefileWriter> savefile;
  if (options.write_path)
    savefile.emplace(*options.write_path, link_type, options.snapshot_length, source);

  // With -w - the savefile is the only thing on standard output.
  const bool lines = !options.quiet && !options.writes_to_stdout();
  const LineFormat format{link_type, options.utc, options.link_header, options.verbose};
  RunTally tally;
  std::optional<std::string> write_failure;
  auto on_frame = [&](const PacketBuffer& buffer) {
    tally.add(buffer);
    uint32_t held = std::min(buffer.captured_length, buffer.capacity);
    if (lines) {
      std::printf("%s\n", frame_line(buffer, format).c_str());
      if (options.hex_dump && buffer.status == NDIS_STATUS_SUCCESS)
        std::printf("%s", hex_dump({buffer.data, held}, options.hex_dump == 2).c_str());
    }
    if (!savefile || buffer.status != NDIS_STATUS_SUCCESS) return true;
    // No exception may leave a completion routine: the library's frames are below it.
    try {
      savefile->write(static_cast<int64_t>(buffer.timestamp), {buffer.data, held},
                      buffer.wire_length);
    } catch (const PcapToolError& error) {
      write_failure = error.what();
      return false;
    }
    return true;
  };
  ReadRing ring(adapter.handle(),
                {.reads = options.reads, .count = options.count, .savefile = !live}, on_frame);

  catch_interrupts();
  std::fprintf(
      stderr, "pkdv-capture: %s %s, link type %s\n", live ? "listening on" : "reading from",
      live ? source.c_str() : path.c_str(), link_type_name(link_type).c_str());
  ProgressLine progress(stderr_is_terminal() && !lines);
  auto start = std::chrono::steady_clock::now();
  ring.start();
  while (!ring.finished() && !interrupted()) {
    ring.wait(kWaitMilliseconds);
    if (lines) std::fflush(stdout);
    progress.update(tally.frames);
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

  std::fflush(stdout);
  std::optional<ReadsRanOut> ran_out;
  if (live) ran_out = ReadsRanOut{ring.ran_out(), options.reads};
  std::fprintf(stderr, "%s", summary_text(tally, elapsed.count(), ran_out).c_str());
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
        while (savefile_frames->next()) {
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
