#include "watchdog.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>

namespace pkdv::stress {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kLongestSilence{2000};

const char* state_name(SlotState state) {
  switch (state) {
    case SlotState::kFree:
      return "free";
    case SlotState::kInFlight:
      return "in flight";
    case SlotState::kCancelTooLate:
      return "filled, cancelled too late";
    case SlotState::kOwnerEnded:
      return "owner ended";
  }
  return "?";
}

}  // namespace

Watchdog::Watchdog(World& world) : world_(world), thread_([this] { watch(); }) {}

Watchdog::~Watchdog() {
  stop();
}

void Watchdog::stop() {
  running_.store(false);
  if (thread_.joinable()) thread_.join();
}

milliseconds Watchdog::longest_wait() const {
  return milliseconds(longest_ms_.load());
}

void Watchdog::watch() {
  Clock::time_point waiting_since = Clock::now();
  while (running_.load()) {
    std::this_thread::sleep_for(milliseconds(50));
    const Clock::time_point now = Clock::now();
    if (world_.phase.load() == Phase::kFinal || world_.ledger.in_flight() == 0) {
      waiting_since = now;  // nothing that should come back
      continue;
    }
    const Clock::time_point since = std::max(waiting_since, world_.ledger.last_hand_back());
    const auto waited = std::chrono::duration_cast<milliseconds>(now - since);
    if (waited.count() > longest_ms_.load()) longest_ms_.store(waited.count());
    if (waited > kLongestSilence) fail(waited);
  }
}

void Watchdog::fail(milliseconds waited) {
  Ledger& ledger = world_.ledger;
  std::fprintf(stderr,
               "WATCHDOG: no read handed back for %lld ms with %lld reads outstanding while "
               "frames flow (a deadlock or a stranded token)\n",
               static_cast<long long>(waited.count()), static_cast<long long>(ledger.in_flight()));
  for (std::uint32_t i = 0; i < ledger.slot_count(); ++i) {
    Slot& slot = *ledger.slot(i);
    std::unique_lock lock(slot.mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
      std::fprintf(stderr, "  slot %u: its mutex is held (a thread is stuck in a call)\n", i);
    } else if (slot.state == SlotState::kInFlight || slot.state == SlotState::kCancelTooLate) {
      std::fprintf(stderr, "  slot %u (client %d): %s, status 0x%08X\n", i,
                   static_cast<const Client*>(slot.owner)->number(), state_name(slot.state),
                   slot.buffer()->status);
    }
  }
  std::fprintf(stderr, "errors so far:\n%s", ledger.errors_text().c_str());
  std::fflush(stderr);
  std::abort();
}

}  // namespace pkdv::stress
