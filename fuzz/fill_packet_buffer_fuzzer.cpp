// The frame fill with any header and any capacity. The buffer is allocated
// with exactly 56 + capacity bytes and the frame with exactly its captured
// bytes, so the address sanitizer reports any write past the data area and
// any read past the captured bytes.
#include <algorithm>
#include <memory>

#include "engine/engine.h"
#include "fuzz_input.h"

using pkdv::fuzzing::expect;
using pkdv::fuzzing::FuzzInput;

namespace {

// Up to past the snapshot length; most inputs stay small, which runs faster.
constexpr std::uint32_t kMostBytes = 1u << 17;
constexpr std::uint32_t kMostSmall = 2048;
constexpr std::uint8_t kUntouched = 0xEE;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const std::uint32_t most = in.take<std::uint8_t>() & 1 ? kMostBytes : kMostSmall;
  pkdv::capture::FrameHeader header{};
  header.seconds = in.take<std::int32_t>();
  header.microseconds = in.take<std::int32_t>();
  header.captured_length = in.take<std::uint32_t>() % (most + 1);
  header.wire_length = in.take<std::uint32_t>();
  const std::uint32_t capacity = in.take<std::uint32_t>() % (most + 1);

  const std::vector<std::uint8_t> given = in.bytes(header.captured_length);
  const auto frame = std::make_unique<std::uint8_t[]>(header.captured_length);
  for (std::uint32_t i = 0; i < header.captured_length; ++i) {
    frame[i] = given.empty() ? static_cast<std::uint8_t>(i) : given[i % given.size()];
  }
  const std::size_t block_size = PKDV_PACKET_BUFFER_HEADER_SIZE + capacity;
  const auto block = std::make_unique<std::uint8_t[]>(block_size);
  std::fill_n(block.get(), block_size, kUntouched);
  auto* buffer = reinterpret_cast<PacketBuffer*>(block.get());
  buffer->capacity = capacity;
  const std::uint64_t sequence_before = pkdv::engine::frames_captured();

  pkdv::engine::FillPacketBuffer(buffer, header, frame.get());

  const std::uint8_t* area = block.get() + PKDV_PACKET_BUFFER_HEADER_SIZE;
  expect(std::all_of(block.get(), block.get() + 24, [](auto b) { return b == kUntouched; }));
  expect(buffer->captured_length == std::min(header.captured_length, header.wire_length));
  expect(buffer->wire_length == header.wire_length);
  expect(buffer->capacity == capacity);
  expect(buffer->sequence == sequence_before + 1);
  expect(buffer->timestamp == static_cast<std::uint64_t>(std::int64_t{header.seconds} * 10'000'000 +
                                                         std::int64_t{header.microseconds} * 10));
  std::uint32_t copied = 0;
  if (capacity < header.wire_length) {
    expect(buffer->status == NDIS_STATUS_INVALID_LENGTH);
  } else {
    expect(buffer->status == NDIS_STATUS_SUCCESS);
    copied = buffer->captured_length;
    expect(copied <= capacity);
    expect(std::equal(area, area + copied, frame.get()));
  }
  expect(std::all_of(area + copied, area + capacity, [](auto b) { return b == kUntouched; }));
  return 0;
}
