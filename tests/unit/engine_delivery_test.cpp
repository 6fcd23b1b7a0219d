// Handing completed reads back in the posting thread.
#include <atomic>
#include <thread>

#include "engine/state.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

using DeliveryTest = EngineTest;

TEST_F(DeliveryTest, RunsOnlyInThePostingThreadDuringItsAlertableWait) {
  auto* a = adapter("eth0");
  ClientThread client;
  Buffer b(100);
  client.run([&] { post(a, b.get(), 5); });
  capture_.push_frame(a, bytes(20));

  engine::poll_pass();
  EXPECT_EQ(log_.size(), 0u) << "nothing runs before the thread waits alertably";
  client.run([] { sys::sleep_ms(1); });
  EXPECT_EQ(log_.size(), 0u) << "a plain sleep runs no delivery";
  EXPECT_EQ(deliver_here(), 0u) << "the test thread has nothing to run";

  EXPECT_EQ(client.deliver(), sys::kWaitIoCompletion);
  ASSERT_EQ(log_.size(), 1u);
  EXPECT_EQ(log_.all()[0].thread, client.id());
  EXPECT_EQ(log_.all()[0].status, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(log_.all()[0].context, 5u);
}

// A read the poller finishes while the routines of a delivery run must not
// wait for another frame.
TEST_F(DeliveryTest, ReadFinishedWhileRoutinesRunIsHandedBackWithoutAnotherFrame) {
  auto* a = adapter("eth0");
  Buffer b1(100), b2(100);
  post(a, b1.get(), 1);
  post(a, b2.get(), 2);
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  bool polled_inside = false;
  log_.on_completion = [&](const Completion& c) {
    if (c.context != 1) return;
    // The poller runs a pass at the worst moment: after the delivery took the
    // completed reads and before it gave the token back.
    capture_.push_frame(a, bytes(20));
    std::thread poller(engine::poll_pass);
    poller.join();
    polled_inside = true;
  };

  deliver_here();
  log_.on_completion = nullptr;
  ASSERT_TRUE(polled_inside);
  if (log_.size() < 2) {
    // At the latest, the next pass must queue it, with no new frame.
    engine::poll_pass();
    deliver_here();
  }
  ASSERT_EQ(log_.size(), 2u);
  EXPECT_EQ(log_.all()[1].context, 2u);
}

// While routines run, the poller may hold globalLock and want the record's
// lock, and the routine may want globalLock: they must not wait on each other.
TEST_F(DeliveryTest, RoutineThatPostsAndCancelsWhileThePollerServesTheSameRecord) {
  auto* a = adapter("eth0");
  ClientThread client;
  Buffer b1(100), b2(100), b3(100), reposted(100);
  client.run([&] {
    post(a, b1.get(), 1);
    post(a, b2.get(), 2);
    post(a, b3.get(), 3);
  });
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  log_.on_completion = [&](const Completion& c) {
    if (c.context != 1) return;
    capture_.push_frame(a, bytes(20));
    std::thread poller(engine::poll_pass);  // appends b2 to this very record
    poller.join();
    EXPECT_EQ(post(a, reposted.get(), 4), 1u);
    EXPECT_EQ(PKDV_CancelPacketRead(0, b3.get()), 1u);
  };

  ASSERT_TRUE(client.run_for([] { sys::wait_alertable(0); }, 5000)) << "delivery deadlocked";
  log_.on_completion = nullptr;
  std::vector<std::uintptr_t> contexts;
  for (const auto& c : log_.all()) contexts.push_back(c.context);
  EXPECT_EQ(contexts, (std::vector<std::uintptr_t>{1})) << "a delivery hands back what it found";

  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  client.deliver();
  ASSERT_EQ(log_.size(), 3u);
  EXPECT_EQ(log_.all()[1].context, 2u) << "b3 was cancelled";
  EXPECT_EQ(log_.all()[2].context, 4u) << "the read posted from the routine is served";
}

// Routines that post their next read while a delivery still walks the reads
// it handed back: the new reads must not take over the blocks of the old ones
// before the walk is done, and the old blocks are reused afterwards.
TEST_F(DeliveryTest, ReadsPostedFromRoutinesStayApartFromTheReadsBeingHandedBack) {
  auto* a = adapter("eth0");
  Buffer b[3] = {Buffer(100), Buffer(100), Buffer(100)};
  for (std::uintptr_t i = 0; i < 3; ++i) post(a, b[i].get(), i);
  log_.on_completion = [&](const Completion& c) {
    if (c.context < 3) post(a, b[c.context].get(), c.context + 10);
  };
  for (int frame = 0; frame < 3; ++frame) capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  deliver_here();

  for (int frame = 0; frame < 3; ++frame) capture_.push_frame(a, bytes(30));
  engine::poll_pass();
  deliver_here();
  log_.on_completion = nullptr;
  std::vector<std::uintptr_t> contexts;
  for (const auto& c : log_.all()) contexts.push_back(c.context);
  EXPECT_EQ(contexts, (std::vector<std::uintptr_t>{0, 1, 2, 10, 11, 12}));
  for (auto& buffer : b) EXPECT_EQ(buffer->captured_length, 30u);
}

TEST_F(DeliveryTest, RecordEndsWhenNothingIsLeftAndANewReadStartsAFreshOne) {
  auto* a = adapter("eth0");
  Buffer b1(100), b2(100);
  post(a, b1.get(), 1);
  post(a, b2.get(), 2);
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();  // b1 completed, b2 pending
  PKDV_CancelPacketRead(0, b2.get());
  {
    auto& table = engine::state().table;
    ASSERT_EQ(table.size(), 1u) << "the completed read keeps the record";
    EXPECT_FALSE(table.begin()->second->pending.present);
  }
  deliver_here();
  EXPECT_TRUE(engine::state().table.empty()) << "delivery ends a record with neither queue";

  post(a, b1.get(), 3);
  ASSERT_EQ(engine::state().table.size(), 1u);
  EXPECT_TRUE(sys::event_try_take(engine::state().table.begin()->second->token))
      << "a fresh record starts with its token signalled";
  sys::event_set(engine::state().table.begin()->second->token);
}

TEST_F(DeliveryTest, IdleRecordKeepsItsQueueAndGetsItsTokenBack) {
  auto* a = adapter("eth0");
  Buffer b(100);
  post(a, b.get(), 1);
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  deliver_here();
  auto& table = engine::state().table;
  ASSERT_EQ(table.size(), 1u) << "the emptied pending queue stays, so the record stays";
  auto* record = table.begin()->second;
  EXPECT_TRUE(record->pending.present);
  EXPECT_EQ(record->pending.count, 0u);
  EXPECT_TRUE(sys::event_try_take(record->token));
  sys::event_set(record->token);
}

}  // namespace
}  // namespace pkdv::testing
