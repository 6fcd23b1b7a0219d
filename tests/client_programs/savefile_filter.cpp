// A filter program on a savefile decides as on a live adapter: the frames it
// keeps, each cut to the length it returns.
#include "client.h"

namespace {

using namespace client;

struct Instruction {
  std::uint16_t code;
  std::uint8_t jump_true;
  std::uint8_t jump_false;
  std::uint32_t k;
};

constexpr std::uint32_t kSampleFrames = 241;

// Reads the whole sample savefile with `program` installed; calls `each` with
// every buffer handed back successfully, returns how many.
template <typename Each>
int read_all(const std::vector<Instruction>& program, Each each) {
  const AdapterHandle adapter = open_busy_adapter();
  check(PKDV_SetBPFProgram(adapter, program.data(),
                           static_cast<std::uint32_t>(program.size() * sizeof(Instruction))) == 1,
        "a valid program was refused");
  std::vector<Slot> slots(kSampleFrames + 1);
  int finished = 0;
  int frames = 0;
  struct Context {
    int* finished;
  } context{&finished};
  for (Slot& slot : slots)
    check(PKDV_PacketReadEx(adapter, slot.buffer(), nullptr,
                            reinterpret_cast<std::uintptr_t>(&context),
                            [](std::uint32_t, std::uint32_t, std::uintptr_t c) {
                              ++*reinterpret_cast<Context*>(c)->finished;
                            }) == 1,
          "post refused");
  // The reads past the savefile's end fail; every read comes back.
  while (finished < static_cast<int>(slots.size())) wait_alertable(100);
  for (Slot& slot : slots) {
    if (slot.buffer()->status != NDIS_STATUS_SUCCESS) continue;
    ++frames;
    each(*slot.buffer());
  }
  PKDV_CloseAdapter(adapter);
  return frames;
}

}  // namespace

int main() {
  start_watchdog(60s, "the reads were not handed back");
  const int cut = read_all({{0x06, 0, 0, 20}}, [](const PacketBuffer& b) {  // ret #20
    check(b.captured_length == std::min<std::uint32_t>(20, b.wire_length),
          "a frame was not cut to the program's 20 bytes");
  });
  check(cut == static_cast<int>(kSampleFrames), "ret #20 did not keep every frame");
  // ldh [12]; jeq #0x0806 (ARP); ret #65535; ret #0
  const int arp = read_all(
      {{0x28, 0, 0, 12}, {0x15, 0, 1, 0x0806}, {0x06, 0, 0, 65535}, {0x06, 0, 0, 0}},
      [](const PacketBuffer& b) {
        check(b.captured_length == b.wire_length, "an ARP frame was cut");
        check(b.data[12] == 0x08 && b.data[13] == 0x06, "a frame that is not ARP was kept");
      });
  check(arp > 0 && arp < static_cast<int>(kSampleFrames), "the ARP program kept all or nothing");
  std::printf("ret #20 cut %d frames; the ARP program kept %d\n", cut, arp);
  return 0;
}
