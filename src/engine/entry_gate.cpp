#include "engine/entry_gate.h"

#include <atomic>

namespace pkdv::engine {

namespace {

// Both sequentially consistent: a thread raises `inside` and then reads
// `closed`, the teardown sets `closed` and then reads `inside`, so at least
// one of the two sees the other. Static storage with no destructor: they
// outlive the teardown for the threads that still come.
std::atomic<int> inside{0};
std::atomic<bool> closed{false};

}  // namespace

EngineEntry::EngineEntry() {
  inside.fetch_add(1);
  admitted_ = !closed.load();
  if (!admitted_) inside.fetch_sub(1);
}

EngineEntry::~EngineEntry() {
  if (admitted_) inside.fetch_sub(1);
}

void open_gate() {
  inside.store(0);
  closed.store(false);
}

bool close_gate() {
  closed.store(true);
  return inside.load() == 0;
}

}  // namespace pkdv::engine
