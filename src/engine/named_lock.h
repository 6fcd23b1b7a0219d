#pragma once

#include "platform/platform.h"

namespace pkdv::engine {

// Scope guard over a critical section that carries the name of the function
// that took it, so a debugger shows who holds which lock.
class NamedLock {
 public:
  NamedLock(sys::CriticalSection* section, const char* name);
  virtual ~NamedLock();
  NamedLock(const NamedLock&) = delete;
  NamedLock& operator=(const NamedLock&) = delete;

  const char* name() const { return name_; }

 private:
  sys::CriticalSection* section_;
  char name_[30];
};

}  // namespace pkdv::engine
