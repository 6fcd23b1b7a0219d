// Ends the process while pkdv.dll is loaded and its poller is inside a pass
// (the fake wpcap.dll makes each poll slow), with reads pending and filled:
// the system ends the poller first, perhaps holding the engine's lock, and the
// library's teardown must neither wait for it nor crash. Exit code 0 when the
// process ended promptly and cleanly.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <vector>

#include "dll_client.h"

namespace {
void PKDV_CALLBACK never_called(std::uint32_t, std::uint32_t, std::uintptr_t) {
  std::puts("FAILED: a routine ran during teardown");
  std::fflush(stdout);
  ExitProcess(3);
}
}  // namespace

int main() {
  pkdv::testing::DllClient dll;
  if (!dll.load()) {
    std::puts("FAILED: pkdv.dll does not load");
    return 1;
  }
  char name[] = "rpcap://fake0";
  const AdapterHandle adapter = dll.open(name);
  if (adapter == PKDV_INVALID_ADAPTER) {
    std::puts("FAILED: the fake adapter does not open");
    return 1;
  }
  std::vector<std::uint8_t> storage(8 * (PKDV_PACKET_BUFFER_HEADER_SIZE + 64));
  std::uint32_t transferred[8] = {};
  for (int i = 0; i < 8; ++i) {
    auto* buffer =
        reinterpret_cast<PacketBuffer*>(&storage[i * (PKDV_PACKET_BUFFER_HEADER_SIZE + 64)]);
    buffer->capacity = 64;
    dll.read(adapter, buffer, &transferred[i], 0, never_called);
  }
  Sleep(120);  // the poller is now inside a slow poll, holding its lock
  std::puts("exiting with the poller inside a pass");
  std::fflush(stdout);
  ExitProcess(0);
}
