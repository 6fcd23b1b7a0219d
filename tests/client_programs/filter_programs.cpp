// Filter programs that a capture library could not run safely (an unknown
// instruction, a jump past the end, no return at the end, a scratch cell that
// does not exist, a division by a constant 0, no instruction at all) are
// refused with 0 and last error 87, and reads go on with the frames whole.
// Capture libraries end the process on the first frame such a program meets.
#include "client.h"

namespace {

using namespace client;

constexpr std::uint32_t kInvalidParameter = 87;

struct Instruction {
  std::uint16_t code;
  std::uint8_t jump_true;
  std::uint8_t jump_false;
  std::uint32_t k;
};

constexpr Instruction kAcceptAll = {0x06, 0, 0, 65535};  // ret #65535

void expect_refused(AdapterHandle adapter, const std::vector<Instruction>& program,
                    const char* what) {
  std::printf("%s\n", what);
  check(PKDV_SetBPFProgram(adapter, program.data(),
                           static_cast<std::uint32_t>(program.size() * sizeof(Instruction))) == 0,
        "an invalid program was installed");
  check(PKDV_GetLastError() == kInvalidParameter, "a refused program did not say 87");
}

int handed_back = 0;

void PKDV_CALLBACK count_read(std::uint32_t status, std::uint32_t, std::uintptr_t) {
  check(status == NDIS_STATUS_SUCCESS, "a read failed");
  ++handed_back;
}

}  // namespace

int main() {
  start_watchdog(30s, "the reads were not handed back");
  const AdapterHandle adapter = open_busy_adapter();
  expect_refused(adapter, {{0xff, 0, 0, 0}, kAcceptAll}, "unknown instruction");
  expect_refused(adapter, {{0x15, 0, 5, 0x0800}, kAcceptAll}, "jump past the end");
  expect_refused(adapter, {{0x20, 0, 0, 12}}, "no return at the end");
  expect_refused(adapter, {{0x60, 0, 0, 16}, kAcceptAll}, "scratch cell 16");
  expect_refused(adapter, {{0x34, 0, 0, 0}, kAcceptAll}, "division by a constant 0");
  expect_refused(adapter, {}, "no instruction");

  Slot slot;
  check(PKDV_PacketReadEx(adapter, slot.buffer(), nullptr, 0, count_read) == 1, "post refused");
  while (handed_back == 0) wait_alertable(100);
  const PacketBuffer* b = slot.buffer();
  check(b->captured_length == b->wire_length, "a frame was cut without a program");
  PKDV_CloseAdapter(adapter);
  std::puts("invalid programs refused, frames read whole");
  return 0;
}
