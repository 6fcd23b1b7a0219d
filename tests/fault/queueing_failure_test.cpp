// The queueing of a delivery fails (the thread is alive, but its queue cannot
// take the call): the token is given back, and every later pass offers the
// delivery again until it is queued, without waiting for another frame.
#include "engine_fixture.h"
#include "test_hooks.h"

namespace pkdv::testing {
namespace {

class QueueingFailureTest : public EngineTest {
 protected:
  void TearDown() override {
    sys::fail_apc_queueing_for_testing(0);
    EngineTest::TearDown();
  }
};

TEST_F(QueueingFailureTest, EveryLaterPassOffersTheDeliveryAgainUntilItIsQueued) {
  auto* a = adapter("eth0");
  ClientThread client;
  Buffer first(100), second(100), third(100);
  client.run([&] {
    post(a, first.get(), 1);
    post(a, second.get(), 2);
    post(a, third.get(), 3);
  });
  capture_.push_frame(a, bytes(20));
  sys::fail_apc_queueing_for_testing(1);
  engine::poll_pass();
  EXPECT_EQ(client.deliver(), 0u) << "the queueing failed: nothing to run yet";

  engine::poll_pass();  // no new frame
  EXPECT_EQ(client.deliver(), sys::kWaitIoCompletion);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_.all()[0].context, 1u);

  capture_.push_frame(a, bytes(20));
  sys::fail_apc_queueing_for_testing(3);
  for (int pass = 0; pass < 3; ++pass) {
    engine::poll_pass();
    EXPECT_EQ(client.deliver(), 0u) << "pass " << pass;
  }
  engine::poll_pass();
  EXPECT_EQ(client.deliver(), sys::kWaitIoCompletion);
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_EQ(log_.all()[1].context, 2u);
  EXPECT_EQ(log_.all()[1].thread, client.id());
  EXPECT_EQ(second.sequence(), 2u) << "the retries took no frame of their own";
  EXPECT_EQ(third.sequence(), 0u);
}

TEST_F(QueueingFailureTest, ReadsRetiredByACloseAreOfferedAgainByTheNextPass) {
  auto* closing = adapter("closing");
  ClientThread client;
  Buffer pending(100);
  client.run([&] { post(closing, pending.get(), 7); });
  sys::fail_apc_queueing_for_testing(1);
  engine::close_adapter(handle(closing));
  EXPECT_EQ(client.deliver(), 0u);

  engine::poll_pass();
  EXPECT_EQ(client.deliver(), sys::kWaitIoCompletion);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_.all()[0].context, 7u);
  EXPECT_EQ(log_.all()[0].status, NDIS_STATUS_FAILURE);
}

}  // namespace
}  // namespace pkdv::testing
