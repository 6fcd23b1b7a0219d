// The poller's pass: which reads it fills, in which order, with what.
#include <algorithm>

#include "engine/engine.h"
#include "engine/state.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

using PollerTest = EngineTest;

std::vector<std::uint8_t> frame(std::size_t size, std::uint8_t seed) {
  std::vector<std::uint8_t> bytes(size);
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i);
  return bytes;
}

// Each pass serves as many reads as frames are ready; while the thread has
// not waited alertably, later passes queue no second delivery, and the one
// delivery hands back every completed read in order.
TEST_F(PollerTest, ServesAsManyReadsAsFramesAreReadyAndOneDeliveryHandsThemBack) {
  auto* a = adapter("eth0");
  Buffer b1(1514), b2(1514), b3(1514);
  uint32_t transferred = 77;
  ASSERT_EQ(post(a, b1.get(), 1, &transferred), 1u);
  ASSERT_EQ(post(a, b2.get(), 2, &transferred), 1u);
  ASSERT_EQ(post(a, b3.get(), 3, &transferred), 1u);
  capture_.push_frame(a, frame(60, 1));
  capture_.push_frame(a, frame(70, 2));
  engine::poll_pass();
  EXPECT_EQ(b3.sequence(), 0u) << "the third read waits for a frame";
  capture_.push_frame(a, frame(80, 3));
  engine::poll_pass();

  EXPECT_EQ(deliver_here(), sys::kWaitIoCompletion);
  auto calls = log_.all();
  ASSERT_EQ(calls.size(), 3u);
  for (std::uintptr_t i = 0; i < 3; ++i) EXPECT_EQ(calls[i].context, i + 1);
  EXPECT_EQ(calls[0].count, 77u) << "count is the value behind `transferred`";
  EXPECT_EQ(calls[0].thread, sys::current_thread_id());
  EXPECT_EQ(b1.data(), frame(60, 1));
  EXPECT_EQ(b2.data(), frame(70, 2));
  EXPECT_EQ(b3.data(), frame(80, 3));
  EXPECT_EQ(b3.sequence(), 3u);
  EXPECT_EQ(deliver_here(), 0u) << "a single delivery was queued";
}

TEST_F(PollerTest, FirstEmptyPollEndsTheRecordsTurnEvenIfOtherAdaptersHaveFrames) {
  auto* quiet = adapter("quiet");
  auto* busy = adapter("busy");
  Buffer b1(1514), b2(1514);
  post(quiet, b1.get(), 1);
  post(busy, b2.get(), 2);
  capture_.push_frame(busy, frame(60, 0));

  engine::poll_pass();

  EXPECT_EQ(capture_.adapter(quiet).polls, 1);
  EXPECT_EQ(capture_.adapter(busy).polls, 0);
  EXPECT_EQ(deliver_here(), 0u);
  EXPECT_EQ(log_.size(), 0u);
}

TEST_F(PollerTest, FillsLengthsSequenceAndTimestamp) {
  auto* a = adapter("eth0");
  Buffer exact(60), short_by_one(59), failing(1514), after(1514);
  post(a, exact.get(), 1);
  post(a, short_by_one.get(), 2);
  post(a, failing.get(), 3);
  post(a, after.get(), 4);
  capture_.push_frame(a, frame(60, 9), 1, 5);
  capture_.push_frame(a, frame(60, 9), 2, 0);
  capture_.push_result(a, -1);
  capture_.push_frame(a, frame(64, 9), 3, 999999);
  std::fill_n(short_by_one->data, 59, 0xEE);
  failing->sequence = 0xDEAD;

  engine::poll_pass();

  EXPECT_EQ(exact->status, NDIS_STATUS_SUCCESS) << "a frame as long as the capacity is copied";
  EXPECT_EQ(exact.sequence(), 1u) << "the first frame after load is number 1";
  EXPECT_EQ(exact.timestamp(), 10'000'050u) << "1 s + 5 us in 100 ns units";
  EXPECT_EQ(exact.data(), frame(60, 9));

  EXPECT_EQ(short_by_one->status, NDIS_STATUS_INVALID_LENGTH);
  EXPECT_EQ(short_by_one.sequence(), 2u) << "a refused frame still takes a number";
  EXPECT_EQ(short_by_one.timestamp(), 20'000'000u);
  EXPECT_EQ(short_by_one->captured_length, 60u);
  EXPECT_EQ(short_by_one->wire_length, 60u);
  EXPECT_TRUE(std::all_of(short_by_one->data, short_by_one->data + 59, [](std::uint8_t v) {
    return v == 0xEE;
  })) << "the data area of a too-small buffer is not touched";

  EXPECT_EQ(failing->status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(failing.sequence(), 0xDEADu) << "a capture error writes the status alone";

  EXPECT_EQ(after.sequence(), 3u) << "the error consumed no number";
  EXPECT_EQ(after.timestamp(), 30'000'000u + 9'999'990u);

  deliver_here();
  auto calls = log_.all();
  ASSERT_EQ(calls.size(), 4u);
  EXPECT_EQ(calls[1].status, NDIS_STATUS_INVALID_LENGTH);
  EXPECT_EQ(calls[2].status, NDIS_STATUS_FAILURE);
}

TEST_F(PollerTest, CopyStopsAtTheCapturedBytesWhenTheWireLengthIsLonger) {
  auto* a = adapter("eth0");
  Buffer b(1514);
  std::fill_n(b->data, 1514, 0xEE);
  post(a, b.get(), 1);
  capture_.push_frame(a, frame(10, 1), 0, 0, /*wire_length=*/100);

  engine::poll_pass();

  EXPECT_EQ(b->status, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(b->captured_length, 10u);
  EXPECT_EQ(b->wire_length, 100u);
  EXPECT_EQ(b.data(), frame(10, 1));
  EXPECT_EQ(b->data[10], 0xEE) << "nothing past the captured bytes is copied";
}

TEST_F(PollerTest, SequenceRunsAcrossAdaptersAndThreads) {
  auto* a = adapter("a");
  auto* b = adapter("b");
  ClientThread other;
  Buffer here(100), there(100), here_again(100);
  post(a, here.get(), 1);
  other.run([&] { post(b, there.get(), 2); });
  post(b, here_again.get(), 3);
  capture_.push_frame(a, frame(20, 0));
  capture_.push_frame(b, frame(20, 0));
  capture_.push_frame(b, frame(20, 0));

  engine::poll_pass();

  std::vector<std::uint64_t> numbers{here.sequence(), there.sequence(), here_again.sequence()};
  std::sort(numbers.begin(), numbers.end());
  EXPECT_EQ(numbers, (std::vector<std::uint64_t>{1, 2, 3}));
  EXPECT_EQ(engine::frames_captured(), 3u);
  other.deliver();
}

TEST_F(PollerTest, ThreadsSharingAnAdapterTakeFramesLowestThreadIdFirst) {
  auto* a = adapter("eth0");
  ClientThread first, second;
  ClientThread& low = first.id() < second.id() ? first : second;
  ClientThread& high = first.id() < second.id() ? second : first;
  Buffer for_high(100), for_low(100);
  // Posted in the opposite order of the ids: creation order must not matter.
  high.run([&] { post(a, for_high.get(), 2); });
  low.run([&] { post(a, for_low.get(), 1); });
  capture_.push_frame(a, frame(20, 1));

  engine::poll_pass();

  EXPECT_EQ(for_low.sequence(), 1u);
  EXPECT_EQ(low.deliver(), sys::kWaitIoCompletion);
  EXPECT_EQ(high.deliver(), 0u);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_.all()[0].thread, low.id());

  capture_.push_frame(a, frame(20, 2));
  engine::poll_pass();
  EXPECT_EQ(high.deliver(), sys::kWaitIoCompletion);
  EXPECT_EQ(for_high.sequence(), 2u);
}

}  // namespace
}  // namespace pkdv::testing
