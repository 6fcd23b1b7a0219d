// Platform probes and completion routine forms of pkdv.dll under a Wine
// prefix that reports a given Windows version (argument: win98, win2k,
// winxp, win10 or nt40). Exit code 0 when every check holds.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "pkdv.h"
#include "stack_guard.h"

namespace {

struct Row {
  const char* version;
  DWORD platform_id, major, minor;
  std::uint32_t nt, w2000, w95;
  int arguments;  // 3: routine(status, count, context); 1: routine(context)
};

constexpr Row kRows[] = {
    {"win98", 1, 4, 10, 0, 0, 1, 1}, {"win2k", 2, 5, 0, 0, 1, 0, 3}, {"winxp", 2, 5, 1, 1, 0, 0, 3},
    {"win10", 2, 6, 2, 1, 0, 0, 3},  // what an application without a manifest is told
    {"nt40", 2, 4, 0, 1, 0, 0, 3},
};

int failures = 0;
void check(bool ok, const char* what, unsigned long got, unsigned long want) {
  if (ok) return;
  std::printf("FAILED: %s: got %#lx, want %#lx\n", what, got, want);
  ++failures;
}

constexpr std::uintptr_t kContext = 0x5A5A1234;
std::uintptr_t received[3];
int calls = 0;
// Real __stdcall routines (on i686) of the two forms a client declares.
void PKDV_CALLBACK nt_routine(std::uint32_t status, std::uint32_t count, std::uintptr_t context) {
  received[0] = status;
  received[1] = count;
  received[2] = context;
  ++calls;
}
void PKDV_CALLBACK family95_routine(std::uintptr_t context) {
  received[0] = context;
  ++calls;
}

}  // namespace

int main(int argc, char** argv) {
  const Row* row = nullptr;
  for (const Row& r : kRows)
    if (argc > 1 && std::strcmp(argv[1], r.version) == 0) row = &r;
  if (!row) {
    std::printf("usage: probe_forms win98|win2k|winxp|win10|nt40\n");
    return 2;
  }

  OSVERSIONINFOA v{};
  v.dwOSVersionInfoSize = sizeof v;
  GetVersionExA(&v);
  check(v.dwPlatformId == row->platform_id && v.dwMajorVersion == row->major &&
            v.dwMinorVersion == row->minor,
        "the prefix's version (platform, major, minor packed)",
        v.dwPlatformId << 16 | v.dwMajorVersion << 8 | v.dwMinorVersion,
        row->platform_id << 16 | row->major << 8 | row->minor);

  HMODULE dll = LoadLibraryA("pkdv.dll");
  if (!dll) {
    std::printf("FAILED: pkdv.dll does not load (error %lu)\n", GetLastError());
    return 1;
  }
  // Read back as 32-bit results: all of the register must be 0 or 1.
  using Probe = std::uint32_t (*)();
  const auto probe = [dll](const char* name) {
    return reinterpret_cast<Probe>(reinterpret_cast<void*>(GetProcAddress(dll, name)))();
  };
  const std::uint32_t nt = probe("PKDV_IsWindowsNT");
  const std::uint32_t w2000 = probe("PKDV_IsWindows2000");
  const std::uint32_t w95 = probe("PKDV_IsWindows95");
  check(nt == row->nt, "PKDV_IsWindowsNT", nt, row->nt);
  check(w2000 == row->w2000, "PKDV_IsWindows2000", w2000, row->w2000);
  check(w95 == row->w95, "PKDV_IsWindows95", w95, row->w95);

  SetLastError(4321);
  const std::uint32_t last = probe("PKDV_GetLastError");
  check(last == 4321, "PKDV_GetLastError", last, 4321);

  // A send on no adapter fails, and its routine is called in this family's form.
  auto send = reinterpret_cast<PKDV_PACKET_SEND_EX_FUNC*>(
      reinterpret_cast<void*>(GetProcAddress(dll, "PKDV_PacketSendEx")));
  std::uint32_t sent = 77;
  const std::uint8_t frame[14] = {};
  pkdv::testing::GuardedRoutine guard =
      row->arguments == 3 ? pkdv::testing::GuardedRoutine(nt_routine, kContext)
                          : pkdv::testing::GuardedRoutine(family95_routine, kContext);
  const std::uint32_t status =
      send(0, frame, sizeof frame, &sent, guard.context(), guard.routine());
  check(status == NDIS_STATUS_FAILURE, "send status", status, NDIS_STATUS_FAILURE);
  if (!guard.failure().empty()) {
    std::printf("FAILED: stack guard: %s\n", guard.failure().c_str());
    ++failures;
  }
  check(calls == 1, "routine calls", calls, 1);
  if (row->arguments == 3) {
    check(received[0] == NDIS_STATUS_FAILURE, "routine status", received[0], NDIS_STATUS_FAILURE);
    check(received[1] == 0, "routine count", received[1], 0);
    check(received[2] == kContext, "routine context", received[2], kContext);
  } else {
    check(received[0] == kContext, "routine's only argument", received[0], kContext);
  }

  FreeLibrary(dll);
  std::printf("%s: NT %u, 2000 %u, 95 %u, %d-argument routine: %s\n", row->version, nt, w2000, w95,
              row->arguments, failures ? "FAILED" : "ok");
  return failures ? 1 : 0;
}
