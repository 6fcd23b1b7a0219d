// The queueing of a delivery fails while the thread lives: the queue of calls
// to the thread has to grow and the memory has run out. The token is given
// back, and every later pass offers the delivery again until it is queued,
// without waiting for another frame; reads a close retires meanwhile go with
// it.
#include "doubles/failing_heap.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

// More calls than any queue passes through before it has to grow.
constexpr int kMostCallsBeforeGrowth = 1000;

// Runs `step` in this thread with its first allocation failing; true when
// one failed.
template <typename Step>
bool without_memory(Step step) {
  HeapFaults::fail_at(1);
  {
    HeapWatch watch;
    step();
  }
  const bool struck = HeapFaults::struck();
  HeapFaults::fail_at(0);
  return struck;
}

class QueueingFailureTest : public EngineTest {
 protected:
  void TearDown() override {
    HeapFaults::fail_at(0);
    EngineTest::TearDown();
  }
};

TEST_F(QueueingFailureTest, ADeliveryThatCannotBeQueuedIsOfferedAgainByEveryLaterPass) {
  auto* a = adapter("eth0");
  auto* closing = adapter("closing");
  ClientThread client;
  Buffer served(100), retired(100);
  // Deliveries pass through the thread's queue until the next one needs the
  // queue to grow: a pass without memory then cannot queue it.
  for (int calls = 0;; ++calls) {
    ASSERT_LT(calls, kMostCallsBeforeGrowth) << "the queue of calls never had to grow";
    client.run([&] { post(a, served.get(), 1); });
    capture_.push_frame(a, bytes(20));
    if (without_memory(engine::poll_pass)) break;
    ASSERT_EQ(client.deliver(), sys::kWaitIoCompletion);
  }
  log_.clear();
  EXPECT_EQ(client.deliver(), 0u) << "the queueing failed: nothing to run yet";

  // A later pass, and a close that retires a read, still without memory: each
  // offers the delivery again, and fails again.
  EXPECT_TRUE(without_memory(engine::poll_pass));
  client.run([&] { post(closing, retired.get(), 7); });
  capture_.closed.reserve(1);  // the double's note of the close allocates nothing
  EXPECT_TRUE(without_memory([&] { engine::close_adapter(handle(closing)); }));
  EXPECT_EQ(client.deliver(), 0u);

  engine::poll_pass();  // no new frame
  EXPECT_EQ(client.deliver(), sys::kWaitIoCompletion);
  const auto calls = log_.all();
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].context, 1u);
  EXPECT_EQ(calls[0].status, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(calls[1].context, 7u);
  EXPECT_EQ(calls[1].status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(calls[1].thread, client.id());
}

}  // namespace
}  // namespace pkdv::testing
