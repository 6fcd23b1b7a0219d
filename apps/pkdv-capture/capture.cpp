#include "capture.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <optional>

#include "adapter.h"
#include "options.h"
#include "output.h"
#include "pcap_tools.h"
#include "platform.h"
#include "read_ring.h"
#include "sample_source.h"

namespace pkdv_capture {
namespace {

// How long one wait lasts at most: the delay before Ctrl-C is noticed.
constexpr uint32_t kWaitMilliseconds = 100;

std::vector<uint8_t> compiled_filter(const std::string& expression, const std::string& source) {
  try {
    return compile_filter(expression, source);
  } catch (const FilterError& error) {
    throw FilterError("bad filter '" + expression + "': " + error.what());
  }
}

}  // namespace

int run_capture(const Options& options) {
  // A bad filter is reported whatever the source; the savefile is created only once the
  // source is open.
  std::string source = options.adapter ? *options.adapter : sample_source();
  std::vector<uint8_t> filter;
  if (options.filter) filter = compiled_filter(*options.filter, source);
  OpenAdapter adapter(source);
  if (options.filter &&
      !PKDV_SetBPFProgram(adapter.handle(), filter.data(), static_cast<uint32_t>(filter.size())))
    throw AdapterError("the adapter refused the filter '" + *options.filter + "'");
  std::optional<SavefileWriter> savefile;
  if (options.write_path) savefile.emplace(*options.write_path, source);

  RunTally tally;
  auto on_frame = [&](const PacketBuffer& buffer) {
    tally.add(buffer);
    if (!options.quiet) std::printf("%s\n", frame_line(buffer).c_str());
    if (savefile && buffer.status == NDIS_STATUS_SUCCESS) {
      uint32_t held = std::min(buffer.captured_length, buffer.capacity);
      savefile->write(static_cast<int64_t>(buffer.timestamp), {buffer.data, held},
                      buffer.wire_length);
    }
  };
  ReadRing ring(adapter.handle(),
                {.reads = options.reads, .count = options.count, .savefile = adapter.is_savefile()},
                on_frame);

  catch_interrupts();
  std::fprintf(stderr, "pkdv-capture: reading from %s\n", source.c_str());
  auto start = std::chrono::steady_clock::now();
  ring.start();
  while (!ring.finished() && !interrupted()) {
    wait_alertable(kWaitMilliseconds);
    std::fflush(stdout);
  }
  ring.stop();
  std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;

  std::fflush(stdout);
  std::fprintf(stderr, "%s", summary_text(tally, elapsed.count()).c_str());
  if (ring.failed()) {
    std::fprintf(stderr, "pkdv-capture: capture error on %s\n", source.c_str());
    return 1;
  }
  return 0;
}

}  // namespace pkdv_capture
