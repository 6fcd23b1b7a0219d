// A client thread of the stress test. In the steady phase it waits alertably
// for short random times and, in between, posts reads on free buffers,
// cancels its own reads and other threads' reads; its routines check what
// they are handed and often post the next read at once. It can be told to
// end with reads outstanding. In the drain phase it only waits alertably, so
// that every read of it comes back; in the final phase it posts a last few
// reads and parks without ever waiting alertably again, so those reads are
// left for the unload.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

#include "adapters.h"
#include "ledger.h"
#include "library.h"

namespace pkdv::stress {

enum class Phase { kSteady, kDrain, kFinal };

struct World {
  const Library& api;
  Ledger& ledger;
  Adapters& adapters;
  std::atomic<Phase> phase{Phase::kSteady};
};

class Client {
 public:
  static constexpr int kSlots = 6;
  static constexpr int kFinalReads = 3;

  // Makes the client's buffers and starts its thread.
  Client(World& world, int number);
  ~Client();
  Client(const Client&) = delete;
  Client& operator=(const Client&) = delete;

  // Ends the thread at its next turn, with whatever reads it has outstanding.
  void end_now();
  // Lets a parked thread end (the library is gone: it makes no call).
  void release();
  void join();
  // The last phase this thread has acted in.
  Phase seen() const { return seen_.load(); }
  bool parked() const { return parked_.load(); }
  int number() const { return number_; }
  const std::vector<Slot*>& slots() const { return slots_; }

  // Takes back whatever read `slot` holds (any thread may call it).
  static void cancel(World& world, Slot& slot);

 private:
  void run();
  void act();
  // Posts a read on `slot` if it is free; true when posted.
  bool post(Slot& slot, bool reopened_adapter);
  void park();
  Slot* random_own_slot();
  static void PKDV_CALLBACK read_done(std::uint32_t status, std::uint32_t count,
                                      std::uintptr_t context);

  World& world_;
  const int number_;
  std::vector<Slot*> slots_;
  std::mt19937 random_;
  std::atomic<bool> end_asked_{false};
  std::atomic<Phase> seen_{Phase::kSteady};
  std::atomic<bool> parked_{false};
  std::mutex park_mutex_;
  std::condition_variable park_wake_;
  bool released_ = false;  // guarded by park_mutex_
  std::thread thread_;
};

}  // namespace pkdv::stress
