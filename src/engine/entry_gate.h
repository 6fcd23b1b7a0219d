// Who is inside the engine's state. At process exit on POSIX the library is
// torn down while client threads still run: one may be inside a delivery, or
// waiting for globalLock, and another may call in a moment later. Every way
// into the state passes this gate; the teardown closes it and frees the state
// only when nobody is inside, and a thread that comes later finds the gate
// closed and touches nothing.
#pragma once

namespace pkdv::engine {

// Scope of one pass through the gate. Test `admitted()` before touching the
// state.
class EngineEntry {
 public:
  EngineEntry();
  ~EngineEntry();
  EngineEntry(const EngineEntry&) = delete;
  EngineEntry& operator=(const EngineEntry&) = delete;

  bool admitted() const { return admitted_; }

 private:
  bool admitted_;
};

// Opens the gate with nobody inside (module load, and a forked child, where
// the threads the parent had inside do not exist).
void open_gate();
// Closes the gate for good. True when nobody was inside: the state may then
// be freed, since whoever comes later turns back at the gate.
bool close_gate();

}  // namespace pkdv::engine
