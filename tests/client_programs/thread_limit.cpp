// Twenty threads have posted and been served, and live on with no read
// outstanding: their places still count, so a twenty-first thread's post is
// refused and nothing of it is ever handed back. Once those threads have
// ended, a new thread's post is taken and served.
#include "client.h"

namespace {

using namespace client;

constexpr int kServedThreads = 20;

AdapterHandle adapter;
std::atomic<int> served{0};
std::atomic<bool> extra_checked{false};

// The context is the posting thread's flag.
void PKDV_CALLBACK count_routine(std::uint32_t, std::uint32_t, std::uintptr_t context) {
  reinterpret_cast<std::atomic<bool>*>(context)->store(true);
  served++;
}

// Waits alertably until `done` or `limit` passes; true when `done`.
template <typename Done>
bool wait_until(Done done, std::chrono::milliseconds limit) {
  const auto start = Clock::now();
  while (!done()) {
    if (Clock::now() - start > limit) return false;
    wait_alertable(20);
  }
  return true;
}

void reader(bool expect_refusal) {
  Slot slot;
  std::atomic<bool> handed_back{false};
  const std::uint32_t result =
      PKDV_PacketReadEx(adapter, slot.buffer(), &slot.transferred,
                        reinterpret_cast<std::uintptr_t>(&handed_back), count_routine);
  if (expect_refusal) {
    check(result == 0, "the 21st thread's post was accepted");
    const auto start = Clock::now();
    while (elapsed_ms(start) < 500)
      check(wait_alertable(100) == 0, "something was handed back to the 21st thread");
    return;
  }
  check(result == 1, "a post of one of the twenty was refused");
  check(wait_until([&] { return handed_back.load(); }, 10s), "a read of the twenty was not served");
  // Keep the thread, and so its record, until the 21st has been refused.
  while (!extra_checked) std::this_thread::sleep_for(5ms);
}

}  // namespace

int main() {
  start_watchdog(60s, "the test did not finish");
  adapter = open_busy_adapter();
  std::vector<std::thread> twenty;
  for (int i = 0; i < kServedThreads; ++i) twenty.emplace_back(reader, false);
  // Every one of the twenty idle, none of them ended.
  while (served < kServedThreads) std::this_thread::sleep_for(5ms);
  std::thread(reader, true).join();
  extra_checked = true;
  for (auto& t : twenty) t.join();
  check(served == kServedThreads, "not every one of the twenty was served");

  // The twenty have ended: their records no longer count.
  std::thread(reader, false).join();
  check(served == kServedThreads + 1, "a thread after the twenty was not served");
  std::puts("21st thread refused, the others served");
  return 0;
}
