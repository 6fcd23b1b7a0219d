// A thread that ends with reads both pending and completed (its delivery
// already queued): its reads are never handed back, other threads may still
// cancel them or close their adapter, and its record neither keeps a place
// among the twenty records a pass serves nor outlives the next pass.
#include <algorithm>
#include <memory>

#include "engine/state.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

using EndedThreadTest = EngineTest;

TEST_F(EndedThreadTest, ItsReadsAreClearedAndItsPlaceInThePassGoesToALiveThread) {
  auto* a = adapter("eth0");
  auto* other = adapter("other");
  std::vector<std::unique_ptr<ClientThread>> threads;
  for (int i = 0; i < 21; ++i) threads.push_back(std::make_unique<ClientThread>());
  std::sort(threads.begin(), threads.end(),
            [](const auto& x, const auto& y) { return x->id() < y->id(); });
  // The lowest id ends: were its record kept, it would take one of the
  // twenty places of every pass.
  std::unique_ptr<ClientThread> ending = std::move(threads.front());
  threads.erase(threads.begin());
  Buffer completed(100), cancelled_later(100), retired_later(100), never_served(100);
  ending->run([&] {
    post(a, completed.get(), 100);
    post(a, cancelled_later.get(), 101);
    post(other, retired_later.get(), 102);
    post(a, never_served.get(), 103);
  });
  capture_.push_frame(a, bytes(20));
  engine::poll_pass();  // one read completed and its delivery queued
  ending->end();

  // Before any pass sees that the thread ended, other threads act on its reads.
  threads[0]->run([&] { PKDV_CancelPacketRead(0, cancelled_later.get()); });
  engine::close_adapter(handle(other));

  std::vector<std::unique_ptr<Buffer>> buffers;
  for (std::size_t i = 0; i < threads.size(); ++i) {
    buffers.push_back(std::make_unique<Buffer>(100));
    threads[i]->run([&, i] { post(a, buffers[i]->get(), i); });
  }
  for (int i = 0; i < 25; ++i) capture_.push_frame(a, bytes(20));

  engine::poll_pass();

  for (std::size_t i = 0; i < threads.size(); ++i) {
    EXPECT_NE(buffers[i]->sequence(), 0u) << "live thread " << i << " was not served";
    threads[i]->deliver();
  }
  EXPECT_EQ(never_served.sequence(), 0u) << "a read of the ended thread was filled";
  EXPECT_EQ(log_.size(), threads.size()) << "only the live threads' routines run";
  for (const Completion& c : log_.all()) EXPECT_LT(c.context, 100u);
  EXPECT_EQ(engine::state().table.size(), threads.size()) << "the ended thread's record is gone";
}

}  // namespace
}  // namespace pkdv::testing
