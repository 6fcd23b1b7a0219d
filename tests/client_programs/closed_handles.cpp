// Handles that are not open: closed ones, a second close, and made-up values
// (a small number, a pointer to zeros) are refused by every call that takes
// one, with last error 6, and never reach the capture library, which would
// read through them. Then a thread posts reads while another closes the
// adapter: every read accepted is handed back, none is polled on the closed
// handle.
#include <cstring>

#include "client.h"

namespace {

using namespace client;

constexpr std::uint32_t kInvalidHandle = 6;

std::atomic<int> send_routines{0};

void PKDV_CALLBACK count_send(std::uint32_t status, std::uint32_t, std::uintptr_t) {
  check(status == NDIS_STATUS_FAILURE, "a send on a handle that is not open did not fail");
  ++send_routines;
}

void PKDV_CALLBACK count_read(std::uint32_t, std::uint32_t, std::uintptr_t context) {
  ++*reinterpret_cast<int*>(context);
}

void expect_refused_everywhere(AdapterHandle adapter, const char* what) {
  std::printf("%s\n", what);
  Slot slot;
  check(PKDV_PacketReadEx(adapter, slot.buffer(), nullptr, 0, count_read) == 0, "post accepted");
  check(PKDV_GetLastError() == kInvalidHandle, "refused post did not say 6");
  const std::uint8_t frame[60] = {};
  std::uint32_t sent = 99;
  const int routines_before = send_routines;
  check(
      PKDV_PacketSendEx(adapter, frame, sizeof frame, &sent, 0, count_send) == NDIS_STATUS_FAILURE,
      "send accepted");
  check(PKDV_GetLastError() == kInvalidHandle && sent == 0, "refused send did not say 6");
  check(send_routines == routines_before + 1, "the send's routine did not run once");
  const std::uint8_t accept_all[8] = {0x06, 0, 0, 0, 0xff, 0xff, 0, 0};  // ret #65535
  check(PKDV_SetBPFProgram(adapter, accept_all, sizeof accept_all) == 0, "filter installed");
  check(PKDV_GetLastError() == kInvalidHandle, "refused filter did not say 6");
  NdisRequestRecord request{};
  std::uint32_t value = 0;
  request.oid = 0x00010101;  // OID_GEN_SUPPORTED_LIST
  request.information_buffer = &value;
  request.information_buffer_length = sizeof value;
  check(PKDV_MakeNdisRequest(adapter, &request, nullptr, 1) == NDIS_STATUS_ADAPTER_NOT_READY,
        "NDIS request accepted");
  check(PKDV_CloseAdapter(adapter) == 0, "close accepted");
  check(PKDV_GetLastError() == kInvalidHandle, "refused close did not say 6");
}

// One thread posts reads, each handed back to it, while the main thread
// closes the adapter at a moment that moves from round to round.
void post_while_closing(int round) {
  const AdapterHandle adapter = open_busy_adapter();
  constexpr int kReads = 40;
  std::atomic<bool> posting{false};
  std::thread poster([&] {
    Slot slots[kReads];
    int accepted = 0;
    int handed_back = 0;
    posting = true;
    for (Slot& slot : slots) {
      if (PKDV_PacketReadEx(adapter, slot.buffer(), nullptr,
                            reinterpret_cast<std::uintptr_t>(&handed_back), count_read) == 1)
        ++accepted;
      else
        check(PKDV_GetLastError() == kInvalidHandle, "a post after the close did not say 6");
    }
    while (handed_back < accepted) wait_alertable(100);
  });
  while (!posting) std::this_thread::yield();
  for (int spin = 0; spin < round * 50; ++spin) std::this_thread::yield();
  check(PKDV_CloseAdapter(adapter) == 1, "close of an open adapter refused");
  poster.join();
}

}  // namespace

int main() {
  start_watchdog(60s, "reads were not handed back");
  const AdapterHandle closed = open_busy_adapter();
  check(PKDV_CloseAdapter(closed) == 1, "close of an open adapter refused");
  expect_refused_everywhere(closed, "a closed handle, and its second close");
  expect_refused_everywhere(0x1234, "a made-up small handle");
  static std::uint8_t zeros[4096];
  std::memset(zeros, 0, sizeof zeros);
  expect_refused_everywhere(reinterpret_cast<AdapterHandle>(zeros), "a pointer to zeros");

  for (int round = 0; round < 40; ++round) post_while_closing(round);
  std::puts("every read posted around a close was handed back");
  return 0;
}
