// Running out of memory at every allocation, in turn, along one whole cycle of
// a client's reads: a fresh thread posts (its registration, record, token and
// requests), the poller fills (frames, a capture error, a frame too long),
// the thread's routines run and one of them posts again, an adapter is closed
// with a read pending on it, and the rest is handed back. Each allocation is
// made to fail once, in a cycle of its own.
//
// Whatever fails, a read either was refused at its post (0) and never reaches
// a routine, or was accepted and reaches its routine exactly once; nothing is
// written through a missing object (the sanitizer lanes check that), no
// exception crosses the boundary, and when the state is torn down nothing the
// cycle allocated is left.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "doubles/command_thread.h"
#include "doubles/failing_heap.h"
#include "engine/engine.h"
#include "engine/state.h"
#include "engine_fixture.h"

namespace pkdv::testing {
namespace {

constexpr std::uintptr_t kRepostedContext = 11;

// What one cycle saw. Filled by routines in the client thread, read by the
// test thread after it joined that thread's commands.
struct CycleLog {
  std::map<std::uintptr_t, std::uint32_t> accepted;  // context -> PKDV_PacketReadEx result
  std::map<std::uintptr_t, int> routine_calls;
  std::map<std::uintptr_t, PacketBuffer*> buffers;
  int status_mismatches = 0;
  int escaped_exceptions = 0;
  AdapterHandle repost_adapter = 0;
};

CycleLog* current_cycle = nullptr;

template <typename Call>
void guarded(Call call) {
  try {
    call();
  } catch (...) {
    HeapPause pause;
    ++current_cycle->escaped_exceptions;
  }
}

std::uint32_t post_read(AdapterHandle adapter, PacketBuffer* buffer, std::uintptr_t context);

void PKDV_CALLBACK count_call(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
  {
    HeapPause pause;  // the test's own bookkeeping is not under test
    CycleLog& cycle = *current_cycle;
    ++cycle.routine_calls[context];
    if (cycle.buffers.count(context) && cycle.buffers[context]->status != status) {
      ++cycle.status_mismatches;
    }
  }
  // The first read's routine posts the next read, as clients do.
  if (context == 1)
    post_read(current_cycle->repost_adapter, current_cycle->buffers[1], kRepostedContext);
}

std::uint32_t post_read(AdapterHandle adapter, PacketBuffer* buffer, std::uintptr_t context) {
  std::uint32_t result = 0;
  guarded([&] { result = PKDV_PacketReadEx(adapter, buffer, nullptr, context, count_call); });
  HeapPause pause;
  current_cycle->accepted[context] = result;
  current_cycle->buffers[context] = buffer;
  return result;
}

class ExhaustedMemoryTest : public EngineTest {
 protected:
  void TearDown() override {
    HeapFaults::fail_at(0);
    EngineTest::TearDown();
  }

  // One whole cycle with the `n`th watched allocation failing. True when the
  // cycle reached that allocation.
  bool run_cycle(long n) {
    SCOPED_TRACE(::testing::Message() << "allocation " << n << " fails");
    // The registry of threads comes with the first thread ever registered and
    // stays: let it be this one's, outside the watch.
    sys::current_thread_id();
    engine::clear_map(false);
    engine::destroy_state();
    const long alive_before = live_requests_and_records();
    engine::build_state();
    capture_.reset();
    auto* busy = adapter("busy");
    auto* closing = adapter("closing");
    capture_.closed.reserve(1);  // the double's note of the close allocates nothing
    capture_.push_frame(busy, std::vector<std::uint8_t>(60, 1));
    capture_.push_result(busy, -1);
    capture_.push_frame(busy, std::vector<std::uint8_t>(200, 2));  // longer than the buffers
    capture_.push_frame(busy, std::vector<std::uint8_t>(60, 3));

    CycleLog cycle;
    current_cycle = &cycle;
    cycle.repost_adapter = handle(busy);
    Buffer b1(100), b2(100), b3(100), b4(100);
    bool struck = false;
    {
      CommandThread client;
      HeapFaults::fail_at(n);
      client.run([&] {
        HeapWatch watch;
        post_read(handle(busy), b1.get(), 1);
        post_read(handle(busy), b2.get(), 2);
        post_read(handle(closing), b3.get(), 3);
        post_read(handle(busy), b4.get(), 4);
      });
      {
        HeapWatch watch;
        guarded([] { engine::poll_pass(); });
      }
      client.run([] {
        HeapWatch watch;
        sys::wait_alertable(0);
      });
      {
        HeapWatch watch;
        guarded([&] {
          engine::close_adapter(handle(closing));
          engine::poll_pass();
        });
      }
      client.run([] {
        HeapWatch watch;
        sys::wait_alertable(0);
      });
      struck = HeapFaults::struck();
      HeapFaults::fail_at(0);

      // Deliveries that could not be queued are offered again by later passes.
      for (int settle = 0; settle < 2; ++settle) {
        engine::poll_pass();
        client.run([] { sys::wait_alertable(0); });
      }
      for (const auto& [context, result] : cycle.accepted) {
        SCOPED_TRACE(context);
        EXPECT_EQ(cycle.routine_calls[context], result ? 1 : 0)
            << (result ? "an accepted read is handed back exactly once"
                       : "a refused read never reaches a routine");
      }
      for (const auto& [context, calls] : cycle.routine_calls) {
        EXPECT_EQ(cycle.accepted.count(context), 1u) << "routine for a read never posted";
      }
      EXPECT_EQ(cycle.status_mismatches, 0);
      EXPECT_EQ(cycle.escaped_exceptions, 0) << "an exception crossed the library's boundary";
      if (!struck) {
        EXPECT_EQ(cycle.routine_calls.size(), 5u) << "the cycle without failures hands back all";
      }
      client.end();
    }
    engine::clear_map(false);
    engine::destroy_state();
    EXPECT_EQ(live_requests_and_records(), alive_before) << "requests or records leaked";
    EXPECT_EQ(HeapFaults::outstanding(), 0) << "blocks allocated in the cycle were not freed";
    HeapFaults::forget_outstanding();
    engine::build_state();
    current_cycle = nullptr;
    return struck;
  }
};

TEST_F(ExhaustedMemoryTest, EveryAllocationOfACycleFailsInTurn) {
  long n = 1;
  while (run_cycle(n) && !HasFailure()) ++n;
  const long allocations = n - 1;
  std::printf("allocation faults injected: %ld (every allocation of the cycle)\n", allocations);
  EXPECT_GE(allocations, 6)
      << "the cycle allocates at least a state, a record, a token and requests";
}

}  // namespace
}  // namespace pkdv::testing
