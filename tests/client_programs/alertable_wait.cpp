// A client loop that checks a stop flag between alertable waits, with two
// reads outstanding whose routines take 150 ms and post the read again, on an
// adapter that always has a frame ready. Every wait must come back after the
// delivery it ran, within its time-out plus the routines it ran, and the loop
// must end soon after the flag is set.
#include "client.h"

namespace {

using namespace client;

constexpr auto kRoutineTime = 150ms;
constexpr std::uint32_t kWaitMs = 200;
// One delivery hands back at most the two reads; the rest is for a loaded
// machine and the sanitizers.
constexpr long kLongestWaitMs = kWaitMs + 2 * 150 + 700;

AdapterHandle adapter;
Slot slots[2];
std::atomic<bool> stop{false};
int handed_back = 0;

void PKDV_CALLBACK slow_routine(std::uint32_t, std::uint32_t, std::uintptr_t context) {
  std::this_thread::sleep_for(kRoutineTime);
  ++handed_back;
  Slot& slot = slots[context];
  if (!stop)
    check(PKDV_PacketReadEx(adapter, slot.buffer(), &slot.transferred, context, slow_routine) == 1,
          "repost refused");
}

}  // namespace

int main() {
  start_watchdog(20s, "an alertable wait did not return");
  adapter = open_busy_adapter();
  for (std::uintptr_t i = 0; i < 2; ++i)
    check(
        PKDV_PacketReadEx(adapter, slots[i].buffer(), &slots[i].transferred, i, slow_routine) == 1,
        "post refused");

  int waits = 0;
  const auto start = Clock::now();
  while (elapsed_ms(start) < 2000) {
    const auto before = Clock::now();
    wait_alertable(kWaitMs);
    ++waits;
    if (elapsed_ms(before) > kLongestWaitMs)
      fail("a wait ran on past its time-out and its delivery");
  }
  stop = true;
  const auto stopped = Clock::now();
  wait_alertable(kWaitMs);
  check(elapsed_ms(stopped) <= kLongestWaitMs, "the loop did not end after its stop flag");
  check(handed_back >= 4, "reads were not handed back");
  check(waits >= 4, "too few waits returned");
  for (Slot& slot : slots) PKDV_CancelPacketRead(adapter, slot.buffer());
  std::printf("%d waits, %d reads handed back\n", waits, handed_back);
  return 0;
}
