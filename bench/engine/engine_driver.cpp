#include <valgrind/callgrind.h>

#include <cstdio>
#include <memory>
#include <string>

#include "engine/cost_case.h"
#include "engine/engine.h"
#include "pkdv.h"
#include "platform/platform.h"
#include "support/clock.h"

namespace pkdv::bench {

namespace {

constexpr std::uint32_t kCapacity = 1514;
// Each buffer starts on an 8-byte boundary.
constexpr std::size_t kStride = (PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity + 7) / 8 * 8;

struct Run {
  AdapterHandle adapter = PKDV_INVALID_ADAPTER;
  std::unique_ptr<std::uint64_t[]> storage;
  std::uint32_t transferred = 0;
  std::int64_t delivered = 0;
  int finished = 0;  // reads that came back without a frame: the file has ended
  std::uint64_t checksum = 0;

  PacketBuffer* buffer(std::uintptr_t index) {
    return reinterpret_cast<PacketBuffer*>(reinterpret_cast<std::uint8_t*>(storage.get()) +
                                           index * kStride);
  }
};

Run* current_run = nullptr;

void PKDV_CALLBACK on_read(std::uint32_t status, std::uint32_t, std::uintptr_t index) {
  Run& run = *current_run;
  if (status != NDIS_STATUS_SUCCESS) {
    ++run.finished;
    return;
  }
  PacketBuffer* buffer = run.buffer(index);
  ++run.delivered;
  run.checksum += buffer->data[buffer->captured_length - 1];
  PKDV_PacketReadEx(run.adapter, buffer, &run.transferred, index, on_read);
}

}  // namespace

CaseResult run_engine(const std::string& savefile, int outstanding) {
  CaseResult result;
  engine::build_state();
  engine::reset_frame_counter();

  Run run;
  std::string source = "file://" + savefile;
  run.adapter = PKDV_OpenAdapterA(source.data());
  if (run.adapter == PKDV_INVALID_ADAPTER) {
    std::fprintf(stderr, "cannot open %s\n", source.c_str());
    engine::destroy_state();
    return result;
  }
  run.storage = std::make_unique<std::uint64_t[]>(kStride / 8 * outstanding);
  for (int i = 0; i < outstanding; ++i) run.buffer(i)->capacity = kCapacity;
  current_run = &run;

  const std::int64_t start = now_ns();
  CALLGRIND_TOGGLE_COLLECT;
  for (int i = 0; i < outstanding; ++i) {
    PKDV_PacketReadEx(run.adapter, run.buffer(i), &run.transferred, i, on_read);
  }
  while (run.finished < outstanding) {
    engine::poll_pass();
    sys::wait_alertable(0);
  }
  CALLGRIND_TOGGLE_COLLECT;
  result.elapsed_ns = now_ns() - start;

  result.frames = run.delivered;
  result.ok =
      run.delivered > 0 && static_cast<std::uint64_t>(run.delivered) == engine::frames_captured();
  if (!result.ok) {
    std::fprintf(stderr, "engine run: %lld frames handed back, %llu captured\n",
                 static_cast<long long>(run.delivered),
                 static_cast<unsigned long long>(engine::frames_captured()));
  }
  PKDV_CloseAdapter(run.adapter);
  engine::clear_map(false);
  engine::destroy_state();
  current_run = nullptr;
  if (run.checksum == 1) std::fputc('\n', stderr);
  return result;
}

}  // namespace pkdv::bench
