// main returns while a reader thread is inside a completion routine that
// takes 200 ms and then posts its next read, and while two other threads
// post and cancel without pause (so some wait for the engine's lock during
// the teardown). The library's teardown at exit runs while these threads go
// on: the process must end with status 0, not crash or hang.
#include "client.h"

// The process lingers 400 ms after the library's teardown, as a process with
// more to do at exit would, so the threads surely meet the torn-down library.
// An exit handler registered this early (before the loader registers the
// one that runs the libraries' destructors) runs after those destructors.
extern "C" int __cxa_atexit(void (*)(void*), void*, void*);
namespace {
void linger_after_teardown(void*) {
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
}
void register_linger(int, char**, char**) {
  __cxa_atexit(linger_after_teardown, nullptr, nullptr);
}
}  // namespace
__attribute__((section(".preinit_array"),
               used)) void (*const linger_registration)(int, char**, char**) = register_linger;

namespace {

using namespace client;

AdapterHandle adapter;
// Never freed: the read is still outstanding when the process exits.
Slot& reader_slot = *new Slot;
std::atomic<bool> in_routine{false};

void PKDV_CALLBACK slow_routine(std::uint32_t, std::uint32_t, std::uintptr_t) {
  in_routine = true;
  std::this_thread::sleep_for(200ms);
  PKDV_PacketReadEx(adapter, reader_slot.buffer(), &reader_slot.transferred, 0, slow_routine);
}

void reader() {
  PKDV_PacketReadEx(adapter, reader_slot.buffer(), &reader_slot.transferred, 0, slow_routine);
  for (;;) wait_alertable(PKDV_INFINITE);
}

void post_and_cancel() {
  Slot slot;
  PacketBuffer* buffer = slot.buffer();
  for (;;) {
    PKDV_PacketReadEx(adapter, buffer, &slot.transferred, 0, nullptr);
    PKDV_CancelPacketRead(adapter, buffer);
    wait_alertable(0);  // a read filled before the cancel comes back here
  }
}

}  // namespace

int main() {
  start_watchdog(30s, "no routine ran");
  adapter = open_busy_adapter();
  std::thread(reader).detach();
  std::thread(post_and_cancel).detach();
  std::thread(post_and_cancel).detach();
  while (!in_routine) std::this_thread::sleep_for(5ms);
  std::this_thread::sleep_for(50ms);  // well inside the routine
  std::puts("returning from main inside a routine");
  std::fflush(stdout);
  return 0;
}
