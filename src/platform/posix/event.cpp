#include <atomic>
#include <new>

#include "platform/platform.h"

namespace pkdv::sys {

// Only the zero time-out wait is offered, so an auto-reset event is a flag
// that an exchange tests and clears in one step: of racing takers exactly one
// sees it set.
struct Event {
  std::atomic<bool> signalled{true};
};

EventHandle event_create_signalled() {
  return new (std::nothrow) Event;
}

bool event_try_take(EventHandle event) {
  return event && event->signalled.exchange(false, std::memory_order_acq_rel);
}

void event_set(EventHandle event) {
  if (event) event->signalled.store(true, std::memory_order_release);
}

void event_close(EventHandle event) {
  delete event;
}

}  // namespace pkdv::sys
