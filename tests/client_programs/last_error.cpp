// Each thread has a last error of its own: a thread starts with 0, and a
// failed send tells its reason to the thread that made it and to no other,
// even while another thread's calls fail for another reason.
#include "client.h"

namespace {

using namespace client;

constexpr std::uint32_t kInvalidHandle = 6;
constexpr std::uint32_t kInvalidParameter = 87;

std::atomic<int> step{0};

void wait_for_step(int wanted) {
  while (step.load() != wanted) std::this_thread::yield();
}

}  // namespace

int main() {
  start_watchdog(30s, "the test did not finish");
  const AdapterHandle adapter = open_busy_adapter();
  const std::uint8_t frame[60] = {};
  std::uint32_t sent = 0;

  // Each side checks while the other thread still runs: starting and joining
  // a thread may change the caller's last error on Windows.
  std::thread other([&] {
    check(PKDV_GetLastError() == 0, "a new thread did not start with 0");
    check(
        PKDV_PacketSendEx(adapter, nullptr, sizeof frame, &sent, 0, nullptr) == NDIS_STATUS_FAILURE,
        "a send without a frame did not fail");
    check(PKDV_GetLastError() == kInvalidParameter, "a send without a frame did not say 87");
    step = 1;
    wait_for_step(2);
    check(PKDV_GetLastError() == kInvalidParameter, "another thread's failure changed 87");
    step = 3;
  });
  wait_for_step(1);
  check(PKDV_PacketSendEx(PKDV_INVALID_ADAPTER, frame, sizeof frame, &sent, 0, nullptr) ==
            NDIS_STATUS_FAILURE,
        "a send on no adapter did not fail");
  step = 2;
  wait_for_step(3);
  check(PKDV_GetLastError() == kInvalidHandle, "a send on no adapter did not say 6, or lost it");
  other.join();
  PKDV_CloseAdapter(adapter);
  std::puts("each thread kept its own last error");
  return 0;
}
