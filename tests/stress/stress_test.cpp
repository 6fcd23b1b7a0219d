// Twenty client threads on the real shared library (its own poller thread
// inside), on a veth pair in a private network namespace with frames arriving
// all the time: they post reads, post again from their routines, cancel their
// own and each other's reads at random, some end with reads outstanding and
// new ones take their place, and one thread closes and reopens an adapter
// that reads are posted on. Every read must end exactly once: handed back,
// cancelled, or torn down (at its thread's end or at the unload), never two of
// these and never none (see ledger.h).
//
// Runs about 20 s; PKDV_STRESS_SECONDS sets another length. The whole program
// must run inside the namespace (tests/endtoend/in_namespace.sh), since the
// poller thread starts with the library.
#include <gtest/gtest.h>
#include <net/if.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "adapters.h"
#include "client.h"
#include "ledger.h"
#include "library.h"
#include "traffic.h"
#include "watchdog.h"

namespace pkdv::stress {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kClients = 20;
constexpr int kFramesPerSecond = 1500;
constexpr int kFramesBeforeTheUnload = 25;

std::chrono::duration<double> steady_length() {
  const char* text = std::getenv("PKDV_STRESS_SECONDS");
  const double seconds = text ? std::atof(text) : 0;
  return std::chrono::duration<double>(seconds > 0 ? seconds : 20.0);
}

template <typename Condition>
bool wait_until(Condition condition, milliseconds patience) {
  const auto deadline = Clock::now() + patience;
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(milliseconds(5));
  }
  return true;
}

double seconds_of(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

TEST(Stress, EveryReadEndsExactlyOnce) {
  if (if_nametoindex("pkdv0") == 0 || if_nametoindex("pkdv1") == 0) {
    GTEST_SKIP() << "needs the veth pair of a private namespace: run it through "
                    "tests/endtoend/in_namespace.sh (ctest does)";
  }
  Library api;
  const char* error = "";
  ASSERT_TRUE(api.load(PKDV_LIBRARY_PATH, &error)) << error;
  Injector injector("pkdv1");
  ASSERT_TRUE(injector.ready());
  Ledger ledger;
  Adapters adapters;
  ASSERT_TRUE(adapters.open(api, "rpcap://pkdv0"));
  World world{api, ledger, adapters};

  injector.start(kFramesPerSecond);
  Watchdog watchdog(world);
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<std::unique_ptr<Client>> ended;  // kept: their buffers may still be written
  int started = 0;
  for (int i = 0; i < kClients; ++i) clients.push_back(std::make_unique<Client>(world, ++started));

  int reopenings = 0;
  std::thread closer([&] {
    std::mt19937 random(1);
    while (world.phase.load() == Phase::kSteady) {
      std::this_thread::sleep_for(milliseconds(150 + random() % 200));
      if (world.phase.load() != Phase::kSteady) break;
      if (!adapters.close_and_reopen(api)) {
        ledger.error("the closed adapter could not be opened again");
        break;
      }
      ++reopenings;
    }
  });

  // Steady: one client at a time ends with its reads outstanding and a new
  // one takes its place.
  const Clock::time_point steady_start = Clock::now();
  const Clock::time_point steady_end =
      steady_start + std::chrono::duration_cast<Clock::duration>(steady_length());
  std::mt19937 random(2);
  while (Clock::now() < steady_end) {
    std::this_thread::sleep_for(milliseconds(200 + random() % 200));
    if (ledger.full()) continue;
    std::unique_ptr<Client>& leaving = clients[random() % clients.size()];
    leaving->end_now();
    leaving->join();
    const std::uint64_t ended_at = ledger.next_ticket();
    for (Slot* slot : leaving->slots()) {
      std::lock_guard guard(slot->mutex);
      slot->owner_end_ticket = ended_at;
    }
    ended.push_back(std::move(leaving));
    leaving = std::make_unique<Client>(world, ++started);
  }
  const Clock::time_point drain_start = Clock::now();

  // Drain: no more posts, cancellations or closes; frames still flow, so
  // every read of a live thread must come back.
  world.phase.store(Phase::kDrain);
  closer.join();
  const auto all_in = [&](Phase phase) {
    return [&clients, phase] {
      for (const auto& c : clients) {
        if (c->seen() != phase) return false;
      }
      return true;
    };
  };
  EXPECT_TRUE(wait_until(all_in(Phase::kDrain), milliseconds(5000)));
  EXPECT_TRUE(wait_until([&] { return ledger.in_flight() == 0; }, milliseconds(10000)))
      << ledger.in_flight() << " reads of live threads never came back while frames flowed";
  const Clock::time_point final_start = Clock::now();

  // Final: each thread posts a few reads and stops waiting alertably; some of
  // those reads are filled, none is handed back; then the library goes.
  world.phase.store(Phase::kFinal);
  injector.stop();
  EXPECT_TRUE(wait_until(
      [&] {
        for (const auto& c : clients) {
          if (!c->parked()) return false;
        }
        return true;
      },
      milliseconds(5000)));
  injector.burst(kFramesBeforeTheUnload);
  std::this_thread::sleep_for(milliseconds(500));  // a few passes
  watchdog.stop();
  const Clock::time_point unload_start = Clock::now();
  api.unload();
  const Clock::duration unload_time = Clock::now() - unload_start;
  for (const auto& c : clients) {
    for (Slot* slot : c->slots()) {
      std::lock_guard guard(slot->mutex);
      ledger.torn_down_at_unload(*slot);
    }
  }
  for (const auto& c : clients) {
    c->release();
    c->join();
  }
  ledger.check_reads_left_by_ended_threads();

  const Tally& t = ledger.tally;
  std::printf(
      "stress: %.1f s steady, %.2f s drain, unload %.3f s; %d client threads (%zu ended with "
      "reads outstanding); adapter closed and reopened %d times; %llu frames injected; longest "
      "wait for a hand-back %lld ms\n",
      seconds_of(drain_start - steady_start), seconds_of(final_start - drain_start),
      seconds_of(unload_time), started, ended.size(), reopenings,
      static_cast<unsigned long long>(injector.sent()),
      static_cast<long long>(watchdog.longest_wait().count()));
  std::printf(
      "stress: %llu reads posted = %llu handed back (%llu frames, %llu too long, %llu failed "
      "by a close) + %llu cancelled + %llu torn down at thread end + %llu torn down at unload "
      "(%llu torn-down reads had been filled)\n",
      static_cast<unsigned long long>(t.posted.load()),
      static_cast<unsigned long long>(t.handed_back()),
      static_cast<unsigned long long>(t.handed_back_frame.load()),
      static_cast<unsigned long long>(t.handed_back_too_long.load()),
      static_cast<unsigned long long>(t.handed_back_failed.load()),
      static_cast<unsigned long long>(t.cancelled.load()),
      static_cast<unsigned long long>(t.torn_down_at_thread_end.load()),
      static_cast<unsigned long long>(t.torn_down_at_unload.load()),
      static_cast<unsigned long long>(t.filled_but_torn_down.load()));
  std::printf(
      "stress: %llu cancellations, %llu of them too late (the read was handed back); mean time "
      "from post to hand-back %.1f ms\n",
      static_cast<unsigned long long>(t.cancel_calls.load()),
      static_cast<unsigned long long>(t.cancels_too_late.load()),
      t.handed_back() ? t.waited_us.load() / 1000.0 / static_cast<double>(t.handed_back()) : 0.0);

  EXPECT_EQ(ledger.error_count(), 0u) << ledger.errors_text();
  EXPECT_EQ(t.posted.load(),
            t.handed_back() + t.cancelled + t.torn_down_at_thread_end + t.torn_down_at_unload)
      << "reads that never ended";
  EXPECT_EQ(ledger.in_flight(), 0);
  EXPECT_LT(unload_time, std::chrono::seconds(5));
  // Each way of ending was exercised.
  EXPECT_GT(t.handed_back_frame.load(), 0u);
  EXPECT_GT(t.handed_back_too_long.load(), 0u);
  EXPECT_GT(t.handed_back_failed.load(), 0u);
  EXPECT_GT(t.cancelled.load(), 0u);
  EXPECT_GT(t.cancels_too_late.load(), 0u);
  EXPECT_GT(t.torn_down_at_thread_end.load(), 0u);
  EXPECT_EQ(t.torn_down_at_unload.load(), std::uint64_t{kClients} * Client::kFinalReads);
  EXPECT_GT(t.filled_but_torn_down.load(), 0u);
}

}  // namespace
}  // namespace pkdv::stress
