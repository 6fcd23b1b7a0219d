// Frames from the test wpcap.dll (tests/win32/fake_wpcap.cpp), pushed before
// the test starts, and the system's alertable wait.
#include <windows.h>

#include "client.h"
#include "fake_wpcap.h"

namespace client {

AdapterHandle open_busy_adapter() {
  char name[] = "rpcap://fake0";
  const AdapterHandle adapter = PKDV_OpenAdapterA(name);
  check(adapter != PKDV_INVALID_ADAPTER, "the fake adapter does not open");
  auto push = reinterpret_cast<pkdv::testing::fake_wpcap::PushFrameFn>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleA("wpcap.dll"), "fake_push_frame")));
  check(push != nullptr, "the test wpcap.dll is not the one loaded");
  const std::vector<std::uint8_t> frame(60, 0xAB);
  for (int i = 0; i < 1000; ++i)
    push(reinterpret_cast<void*>(adapter), frame.data(), static_cast<std::uint32_t>(frame.size()));
  return adapter;
}

std::uint32_t wait_alertable(std::uint32_t milliseconds) {
  return SleepEx(milliseconds, TRUE);
}

}  // namespace client
