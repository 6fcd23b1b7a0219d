#include "client.h"

#include <chrono>

namespace pkdv::stress {

namespace {

thread_local Client* current_client = nullptr;
// Routines find the ledger through here: a routine has only its context.
std::atomic<World*> routine_world{nullptr};

constexpr std::uint32_t kLargeCapacity = 1600;  // every frame fits
constexpr std::uint32_t kSmallCapacity = 128;   // most frames are too long

}  // namespace

Client::Client(World& world, int number)
    : world_(world), number_(number), random_(static_cast<std::uint32_t>(number) * 7919u) {
  routine_world.store(&world);
  for (int i = 0; i < kSlots; ++i) {
    const std::uint32_t capacity = i == kSlots - 1 ? kSmallCapacity : kLargeCapacity;
    if (Slot* slot = world_.ledger.add_slot(this, capacity)) slots_.push_back(slot);
  }
  thread_ = std::thread([this] { run(); });
}

Client::~Client() {
  release();
  end_now();
  join();
}

void Client::end_now() {
  end_asked_.store(true);
}

void Client::release() {
  {
    std::lock_guard guard(park_mutex_);
    released_ = true;
  }
  park_wake_.notify_all();
}

void Client::join() {
  if (thread_.joinable()) thread_.join();
}

void Client::run() {
  current_client = this;
  while (!end_asked_.load()) {
    const Phase phase = world_.phase.load();
    seen_.store(phase);
    if (phase == Phase::kFinal) {
      park();
      return;
    }
    if (phase == Phase::kDrain) {
      world_.api.wait(20);
      continue;
    }
    world_.api.wait(random_() % 16);
    if (!end_asked_.load()) act();
  }
  // Ending with reads outstanding: the library clears them, no routine runs.
  for (Slot* slot : slots_) {
    std::lock_guard guard(slot->mutex);
    world_.ledger.left_by_owner(*slot);
  }
}

void Client::act() {
  if (slots_.empty()) return;
  const std::uint32_t choice = random_() % 100;
  if (choice < 60) {
    const std::size_t start = random_() % slots_.size();
    const bool reopened = random_() % 10 < 4;
    for (std::size_t i = 0; i < slots_.size(); ++i) {
      if (post(*slots_[(start + i) % slots_.size()], reopened)) break;
    }
  } else if (choice < 64) {
    cancel(world_, *slots_[random_() % slots_.size()]);
  } else if (choice < 68) {
    cancel(world_, *world_.ledger.slot(random_() % world_.ledger.slot_count()));
  } else if (choice < 72) {
    // Busy elsewhere: reads filled meanwhile wait for the next alertable
    // wait, and other threads' cancellations may come too late for them.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

bool Client::post(Slot& slot, bool reopened_adapter) {
  bool posted = false;
  world_.adapters.with_adapter(reopened_adapter, [&](AdapterHandle adapter) {
    std::lock_guard guard(slot.mutex);
    if (slot.state != SlotState::kFree) return;
    ++slot.generation;
    slot.prepare();
    slot.transferred = slot.generation * 2654435761u;
    slot.post_ticket = world_.ledger.next_ticket();
    if (world_.api.read(adapter, slot.buffer(), &slot.transferred, slot.context(), read_done) !=
        1) {
      world_.ledger.error("PKDV_PacketReadEx refused a read");
      return;
    }
    world_.ledger.posted(slot);
    posted = true;
  });
  return posted;
}

void Client::park() {
  int posted = 0;
  for (Slot* slot : slots_) {
    if (posted < kFinalReads && post(*slot, false)) ++posted;
  }
  parked_.store(true);
  std::unique_lock lock(park_mutex_);
  park_wake_.wait(lock, [this] { return released_; });
}

void Client::cancel(World& world, Slot& slot) {
  std::lock_guard guard(slot.mutex);
  ++world.ledger.tally.cancel_calls;
  world.api.cancel(0, slot.buffer());
  if (slot.state != SlotState::kInFlight) return;
  // The poller writes a buffer only under the lock the cancellation took:
  // unwritten now means the read was still pending, and is gone for good.
  if (slot.buffer()->status == kNotWritten) {
    world.ledger.cancelled(slot);
  } else {
    slot.state = SlotState::kCancelTooLate;
    ++world.ledger.tally.cancels_too_late;
  }
}

void PKDV_CALLBACK Client::read_done(std::uint32_t status, std::uint32_t count,
                                     std::uintptr_t context) {
  World& world = *routine_world.load();
  Client* self = current_client;
  Slot* slot = world.ledger.slot_of_context(context);
  if (!slot) {
    world.ledger.error("routine with a context no read was posted with");
    return;
  }
  if (slot->owner != self) world.ledger.error("routine ran in a thread that did not post the read");
  bool post_next = false;
  {
    std::lock_guard guard(slot->mutex);
    const bool in_flight =
        slot->state == SlotState::kInFlight || slot->state == SlotState::kCancelTooLate;
    if (slot->generation != static_cast<std::uint32_t>(context) || !in_flight) {
      world.ledger.error("routine for a read that had already ended (handed back or cancelled)");
      return;
    }
    if (world.phase.load() == Phase::kFinal) {
      world.ledger.error("routine for a read left outstanding for the unload");
    }
    world.ledger.hand_back(*slot, status, count);
    post_next =
        slot->owner == self && world.phase.load() == Phase::kSteady && self->random_() % 10 < 7;
  }
  if (post_next) self->post(*slot, self->random_() % 10 < 4);
}

}  // namespace pkdv::stress
