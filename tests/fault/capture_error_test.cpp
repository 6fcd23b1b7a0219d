// Capture errors in the middle of a batch: each one fails its own read alone
// (status only, no sequence number), and the pass goes on with the same
// record's next read and with the records after it.
#include <algorithm>
#include <memory>

#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

using CaptureErrorTest = EngineTest;

constexpr std::uint64_t kUntouched = 0x5A5A5A5A5A5A5A5Au;

// A buffer whose every field the poller may write holds a known pattern.
std::unique_ptr<Buffer> marked_buffer() {
  auto buffer = std::make_unique<Buffer>(100);
  PacketBuffer* b = buffer->get();
  b->sequence = kUntouched;
  b->timestamp = kUntouched;
  b->captured_length = b->wire_length = 0x5A5A5A5A;
  std::fill_n(b->data, 100, 0x5A);
  return buffer;
}

TEST_F(CaptureErrorTest, ErrorsInABatchFailTheirOwnReadsAndThePassGoesOn) {
  auto* shared = adapter("shared");
  auto* broken = adapter("broken");
  auto first = std::make_unique<ClientThread>();
  auto second = std::make_unique<ClientThread>();
  if (second->id() < first->id()) std::swap(first, second);
  ClientThread& low = *first;
  ClientThread& high = *second;
  std::vector<std::unique_ptr<Buffer>> low_reads, high_reads;
  for (int i = 0; i < 5; ++i) low_reads.push_back(marked_buffer());
  for (int i = 0; i < 3; ++i) high_reads.push_back(marked_buffer());
  // low: two reads on an adapter that fails every poll, then three on the
  // shared one; high: three on the shared one.
  low.run([&] {
    post(broken, low_reads[0]->get(), 10);
    post(broken, low_reads[1]->get(), 11);
    for (int i = 2; i < 5; ++i) post(shared, low_reads[i]->get(), 10 + i);
  });
  high.run([&] {
    for (int i = 0; i < 3; ++i) post(shared, high_reads[i]->get(), 20 + i);
  });
  capture_.push_result(broken, -1);
  capture_.push_result(broken, -3);
  capture_.push_frame(shared, bytes(30, 1));  // low 12
  capture_.push_result(shared, -1);           // low 13
  capture_.push_frame(shared, bytes(30, 2));  // low 14
  capture_.push_result(shared, -1);           // high 20
  capture_.push_result(shared, -2);           // high 21
  capture_.push_frame(shared, bytes(30, 3));  // high 22

  engine::poll_pass();

  const std::vector<std::uint32_t> low_status{NDIS_STATUS_FAILURE, NDIS_STATUS_FAILURE,
                                              NDIS_STATUS_SUCCESS, NDIS_STATUS_FAILURE,
                                              NDIS_STATUS_SUCCESS};
  const std::vector<std::uint64_t> low_sequence{kUntouched, kUntouched, 1, kUntouched, 2};
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(10 + i);
    EXPECT_EQ(low_reads[i]->get()->status, low_status[i]);
    EXPECT_EQ(low_reads[i]->sequence(), low_sequence[i]);
  }
  EXPECT_EQ(low_reads[3]->get()->captured_length, 0x5A5A5A5Au)
      << "a failed read gets its status alone";
  EXPECT_EQ(low_reads[3]->timestamp(), kUntouched);
  EXPECT_EQ(low_reads[3]->get()->data[0], 0x5A);
  EXPECT_EQ(high_reads[0]->get()->status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(high_reads[1]->get()->status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(high_reads[2]->get()->status, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(high_reads[2]->sequence(), 3u) << "errors consume no sequence number";
  EXPECT_EQ(high_reads[2]->data(), bytes(30, 3));
  EXPECT_EQ(capture_.adapter(shared).polls, 6) << "one poll per read, no empty poll needed";

  EXPECT_EQ(low.deliver(), sys::kWaitIoCompletion);
  EXPECT_EQ(high.deliver(), sys::kWaitIoCompletion);
  std::vector<std::uintptr_t> low_order, high_order;
  for (const Completion& c : log_.all()) {
    (c.thread == low.id() ? low_order : high_order).push_back(c.context);
    EXPECT_EQ(c.status, c.thread == low.id() ? low_status[c.context - 10]
                                             : high_reads[c.context - 20]->get()->status);
  }
  EXPECT_EQ(low_order, (std::vector<std::uintptr_t>{10, 11, 12, 13, 14}))
      << "one delivery hands back failures and frames in the order they were filled";
  EXPECT_EQ(high_order, (std::vector<std::uintptr_t>{20, 21, 22}));
}

}  // namespace
}  // namespace pkdv::testing
