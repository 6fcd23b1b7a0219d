#include <io.h>
#include <windows.h>

#include <cstdio>

#include <atomic>

#include "platform.h"

namespace pkdv_capture {
namespace {

std::atomic<bool> interrupt_seen{false};

// Runs in a thread of its own; the capture loop polls the flag between its waits.
BOOL WINAPI note_interrupt(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  interrupt_seen = true;
  return TRUE;
}

}  // namespace

void wait_alertable(uint32_t milliseconds) {
  SleepEx(milliseconds, TRUE);
}

void catch_interrupts() {
  SetConsoleCtrlHandler(note_interrupt, TRUE);
}

bool interrupted() {
  return interrupt_seen;
}

bool stderr_is_terminal() {
  return _isatty(_fileno(stderr)) != 0;
}

}  // namespace pkdv_capture
