#include <unistd.h>

#include <csignal>
#include <system_error>

#include "pkdv.h"
#include "platform.h"

namespace pkdv_capture {
namespace {

volatile std::sig_atomic_t interrupt_seen = 0;

extern "C" void note_interrupt(int) {
  interrupt_seen = 1;
}

}  // namespace

void wait_alertable(uint32_t milliseconds) {
  PKDV_WaitAlertable(milliseconds);
}

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = note_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() {
  return interrupt_seen != 0;
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace pkdv_capture
