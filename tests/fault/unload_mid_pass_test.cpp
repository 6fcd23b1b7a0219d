// Unloading while the poller is inside a pass, caught from the capture
// double's poll hook: the unload waits for the pass to end and then frees
// everything, calling no routine; at process exit, where the poller may have
// been ended inside a pass, the teardown does not wait at all.
#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "engine/state.h"
#include "engine_fixture.h"
#include "module/module.h"

namespace pkdv::testing {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

using UnloadMidPassTest = EngineTest;

// Signals when the first poll of a pass starts, then keeps the pass inside
// that poll for a while.
struct SlowFirstPoll {
  std::promise<void> inside;
  std::atomic<bool> entered{false};
  Clock::time_point left{};

  void operator()(capture::Handle*) {
    if (entered.exchange(true)) return;
    inside.set_value();
    std::this_thread::sleep_for(300ms);
    left = Clock::now();
  }
};

TEST_F(UnloadMidPassTest, AtProcessExitTheTeardownDoesNotWaitForAPassThatNeverEnds) {
  auto* a = adapter("eth0");
  Buffer b(100);
  post(a, b.get(), 1);
  std::promise<void> inside;
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  capture_.on_poll = [&](capture::Handle*) {
    inside.set_value();
    released.wait();
  };

  std::thread poller(engine::poll_pass);
  ASSERT_EQ(inside.get_future().wait_for(5s), std::future_status::ready);
  const Clock::time_point start = Clock::now();
  engine::clear_map(true);
  EXPECT_LT(Clock::now() - start, 1s) << "the exit-time teardown waited for the poller";

  release.set_value();
  poller.join();
  capture_.on_poll = nullptr;
  EXPECT_EQ(engine::state().table.size(), 1u) << "the state the poller held was left alone";
}

// The whole module, with its own poller thread: unloading while that thread
// is inside a pass.
TEST(ModuleUnloadMidPass, UnloadWaitsForTheRunningPassAndLeavesNothingBehind) {
  ScriptedCapture& capture = ScriptedCapture::get();
  capture.reset();
  CompletionLog::get().clear();
  capture::Handle* a = capture.add_adapter("eth0");
  char error[capture::kErrorBufferSize];
  ASSERT_EQ(capture::open("eth0", 65536, 0, 1, error), a);
  capture.push_frame(a, bytes(20));
  SlowFirstPoll hook;
  auto inside = hook.inside.get_future();
  capture.on_poll = std::ref(hook);  // set before the poller thread exists

  const long alive_before = live_requests_and_records();
  module::load();
  ClientThread client;
  Buffer b1(100), b2(100);
  client.run([&] {
    PKDV_PacketReadEx(reinterpret_cast<AdapterHandle>(a), b1.get(), nullptr, 1, record_completion);
    PKDV_PacketReadEx(reinterpret_cast<AdapterHandle>(a), b2.get(), nullptr, 2, record_completion);
  });
  ASSERT_EQ(inside.wait_for(5s), std::future_status::ready);
  module::unload(false);
  const Clock::time_point unloaded = Clock::now();

  EXPECT_GE(unloaded, hook.left) << "unloading did not wait for the pass";
  EXPECT_EQ(b1.sequence(), 1u) << "the pass finished its work first";
  EXPECT_FALSE(engine::state_built());
  EXPECT_EQ(live_requests_and_records(), alive_before) << "requests or records outlived the unload";
  const int polls = capture.adapter(a).polls;
  std::this_thread::sleep_for(250ms);
  EXPECT_EQ(capture.adapter(a).polls, polls) << "the poller still runs after the unload";
  client.deliver();
  EXPECT_EQ(CompletionLog::get().size(), 0u) << "torn-down reads reach no routine";
  capture.on_poll = nullptr;
}

}  // namespace
}  // namespace pkdv::testing
