#include "engine/named_lock.h"

namespace pkdv::engine {

NamedLock::NamedLock(sys::CriticalSection* section, const char* name) : section_(section) {
  sys::copy_text(name_, name, sizeof name_);
  sys::lock_enter(section_);
}

NamedLock::~NamedLock() {
  sys::lock_leave(section_);
}

}  // namespace pkdv::engine
