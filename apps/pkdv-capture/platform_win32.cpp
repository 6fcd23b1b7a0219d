#include <io.h>
#include <windows.h>

#include <cstdio>
#include <vector>

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

std::optional<std::string> library_version() {
  // The program imports the library by this name; a function's address would be the
  // program's own import stub.
  HMODULE library = GetModuleHandleW(L"pkdv.dll");
  if (!library) return std::nullopt;
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(library, path, MAX_PATH);
  if (length == 0 || length == MAX_PATH) return std::nullopt;
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  if (size == 0) return std::nullopt;
  std::vector<char> resource(size);
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixed_size = 0;
  if (!GetFileVersionInfoW(path, 0, size, resource.data()) ||
      !VerQueryValueW(resource.data(), L"\\", reinterpret_cast<void**>(&fixed), &fixed_size) ||
      fixed_size < sizeof *fixed)
    return std::nullopt;
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS));
}

}  // namespace pkdv_capture
