// Taking posted reads back, and the record states that posting and
// cancelling lead to.
#include "engine/state.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

using CancelTest = EngineTest;

engine::ThreadRecord* record_of(sys::ThreadId id) {
  auto& table = engine::state().table;
  auto entry = table.find(id);
  return entry == table.end() ? nullptr : entry->second;
}

TEST_F(CancelTest, PostingNeverPollsAndReusesTheThreadsRecord) {
  auto* a = adapter("eth0");
  Buffer b1(100), b2(100);
  EXPECT_EQ(post(a, b1.get(), 1), 1u);
  auto* record = record_of(sys::current_thread_id());
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(post(a, b2.get(), 2), 1u);
  EXPECT_EQ(record_of(sys::current_thread_id()), record);
  EXPECT_EQ(record->pending.count, 2u);
  EXPECT_FALSE(record->completed.present);
  EXPECT_EQ(capture_.adapter(a).polls, 0);
}

TEST_F(CancelTest, CancelledReadNeverReachesItsRoutineAndCompletedOnesCannotBeCancelled) {
  auto* a = adapter("eth0");
  Buffer first(100), second(100);
  post(a, first.get(), 1);
  post(a, second.get(), 2);
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();  // `first` completed, `second` pending

  EXPECT_EQ(PKDV_CancelPacketRead(0, first.get()), 1u);
  EXPECT_EQ(PKDV_CancelPacketRead(0, second.get()), 1u);
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  deliver_here();

  auto calls = log_.all();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].context, 1u) << "a completed read is still handed back";
}

TEST_F(CancelTest, CancellingTheOnlyReadDestroysTheRecord) {
  auto* a = adapter("eth0");
  Buffer b(100);
  post(a, b.get(), 1);
  PKDV_CancelPacketRead(0, b.get());
  EXPECT_EQ(record_of(sys::current_thread_id()), nullptr);
}

// Any cancellation frees the idle records it passes, here one naming another
// thread's read, and still reaches the read it names in a record further on.
TEST_F(CancelTest, IdleRecordIsDestroyedByAnyCancellationThatReachesIt) {
  auto* a = adapter("eth0");
  ClientThread first, second;
  ClientThread& low = first.id() < second.id() ? first : second;
  ClientThread& high = first.id() < second.id() ? second : first;
  Buffer served(100), wanted(100);
  low.run([&] { post(a, served.get(), 1); });
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  low.deliver();  // the low id's record is now idle
  high.run([&] { post(a, wanted.get(), 2); });

  PKDV_CancelPacketRead(0, wanted.get());

  EXPECT_EQ(record_of(low.id()), nullptr) << "the idle record on the way was freed";
  EXPECT_EQ(record_of(high.id()), nullptr) << "the named read was removed too";
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();
  high.deliver();
  EXPECT_EQ(log_.size(), 1u);
  EXPECT_EQ(wanted.sequence(), 0u);
}

TEST_F(CancelTest, RemovesOneReadPerRecordFromEveryThread) {
  auto* a = adapter("eth0");
  ClientThread other;
  Buffer shared(100), keep(100);
  post(a, shared.get(), 1);
  post(a, shared.get(), 2);
  other.run([&] {
    post(a, shared.get(), 3);
    post(a, keep.get(), 4);
  });

  other.run([&] { PKDV_CancelPacketRead(0, shared.get()); });

  auto* mine = record_of(sys::current_thread_id());
  auto* theirs = record_of(other.id());
  ASSERT_NE(mine, nullptr);
  ASSERT_NE(theirs, nullptr);
  EXPECT_EQ(mine->pending.count, 1u) << "one of the two reads with that buffer";
  EXPECT_EQ(mine->pending.head->context, 2u) << "the first one in order was taken";
  EXPECT_EQ(theirs->pending.count, 1u);
  EXPECT_EQ(theirs->pending.head->context, 4u);
}

TEST_F(CancelTest, NullBufferRemovesNothing) {
  auto* a = adapter("eth0");
  Buffer b(100);
  post(a, b.get(), 1);
  EXPECT_EQ(PKDV_CancelPacketRead(0, nullptr), 1u);
  ASSERT_NE(record_of(sys::current_thread_id()), nullptr);
  EXPECT_EQ(record_of(sys::current_thread_id())->pending.count, 1u);
}

TEST_F(CancelTest, ReadWithoutABufferIsRefused) {
  auto* a = adapter("eth0");
  EXPECT_EQ(post(a, nullptr, 1), 0u);
  EXPECT_TRUE(engine::state().table.empty());
}

TEST_F(CancelTest, ClearMapFreesEverythingAndCallsNoRoutine) {
  auto* a = adapter("eth0");
  ClientThread t1, t2;
  Buffer b[6] = {Buffer(100), Buffer(100), Buffer(100), Buffer(100), Buffer(100), Buffer(100)};
  t1.run([&] {
    post(a, b[0].get(), 1);
    post(a, b[1].get(), 2);
  });
  t2.run([&] {
    post(a, b[2].get(), 3);
    post(a, b[3].get(), 4);
  });
  post(a, b[4].get(), 5);
  capture_.push_frame(a, bytes(20));
  capture_.push_frame(a, bytes(20));
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();  // completed and pending reads in several records

  engine::clear_map(false);

  EXPECT_TRUE(engine::state().table.empty());
  t1.deliver();
  t2.deliver();
  deliver_here();
  EXPECT_EQ(log_.size(), 0u);
}

}  // namespace
}  // namespace pkdv::testing
