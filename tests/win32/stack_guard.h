// Completion routines that a call in the wrong form cannot turn into a crash.
//
// On i686 a completion routine is __stdcall: it removes its own arguments. A
// routine of three arguments called with one (or the reverse) leaves the
// caller's stack pointer 8 bytes off, and the process crashes somewhere later,
// far from the cause. A GuardedRoutine stands between pkdv.dll and a real
// routine: its entry finds the guard's context among the arguments to tell
// whether the library pushed one (routine(context)) or three
// (routine(status, count, context)), calls the real routine only in its own
// form, records a failure otherwise, and always returns removing exactly the
// arguments that were pushed, so the library's stack stays balanced and the
// test fails with a message instead. On x86_64 the arguments travel in
// registers and the entry is a plain function doing the same checks.
#pragma once

#include <cstdint>
#include <string>

#include "pkdv.h"

namespace pkdv::testing {

class GuardedRoutine {
 public:
  // A routine of the NT family's form, or of the 95 family's, and the context
  // it is to receive.
  GuardedRoutine(PKDV_COMPLETION_ROUTINE real, std::uintptr_t real_context);
  GuardedRoutine(PKDV_COMPLETION_ROUTINE_95 real, std::uintptr_t real_context);
  ~GuardedRoutine();
  GuardedRoutine(const GuardedRoutine&) = delete;
  GuardedRoutine& operator=(const GuardedRoutine&) = delete;

  // What to give the library: the guard's entry and its context.
  PKDV_COMPLETION_ROUTINE routine() const;
  std::uintptr_t context() const { return reinterpret_cast<std::uintptr_t>(this); }

  int calls() const { return calls_; }
  // Empty while every call came in the routine's own form.
  const std::string& failure() const { return failure_; }

  // Called by the entry with the pushed arguments; returns how many there were.
  int dispatch(int pushed, std::uint32_t status, std::uint32_t count);

 private:
  PKDV_COMPLETION_ROUTINE routine3_ = nullptr;
  PKDV_COMPLETION_ROUTINE_95 routine1_ = nullptr;
  std::uintptr_t context_;
  int calls_ = 0;
  std::string failure_;
};

}  // namespace pkdv::testing
