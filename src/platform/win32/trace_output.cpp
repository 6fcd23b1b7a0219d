#include "platform/trace_output.h"

#include <windows.h>

namespace pkdv::sys {

namespace {

TraceDestination chosen = TraceDestination::kStandardError;
HANDLE file = INVALID_HANDLE_VALUE;

}  // namespace

bool trace_output_open(TraceDestination destination, const char* path) {
  chosen = destination;
  if (destination != TraceDestination::kFile) return true;
  const DWORD saved = GetLastError();
  // Append-only: each line is one write that no other process's lines split.
  file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  SetLastError(saved);
  return file != INVALID_HANDLE_VALUE;
}

void trace_output_write(const char* text, std::size_t length) {
  DWORD written = 0;
  switch (chosen) {
    case TraceDestination::kStandardError:
      // Asked for each line: the client may set its standard error at any time.
      WriteFile(GetStdHandle(STD_ERROR_HANDLE), text, static_cast<DWORD>(length), &written, nullptr);
      break;
    case TraceDestination::kDebugger:
      OutputDebugStringA(text);
      break;
    case TraceDestination::kFile:
      WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
      break;
  }
}

void trace_output_close() {
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  file = INVALID_HANDLE_VALUE;
}

}  // namespace pkdv::sys
