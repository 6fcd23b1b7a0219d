// fork() while reads are outstanding and the poller runs (between passes or
// inside one, by chance of timing). Every child must be able to exit at once,
// and to use the library: post reads on an adapter it inherited and on one
// it opens itself, and have them handed back. The parent goes on as before.
#include <sys/wait.h>
#include <unistd.h>

#include "client.h"

namespace {

using namespace client;

AdapterHandle adapter;
// Never freed: the reads are still outstanding when the process exits.
Slot* const parent_slots = new Slot[2];
std::atomic<int> parent_reads{0};

void PKDV_CALLBACK repost(std::uint32_t, std::uint32_t, std::uintptr_t context) {
  parent_reads++;
  Slot& slot = parent_slots[context];
  PKDV_PacketReadEx(adapter, slot.buffer(), &slot.transferred, context, repost);
}

void parent_reader() {
  for (std::uintptr_t i = 0; i < 2; ++i)
    PKDV_PacketReadEx(adapter, parent_slots[i].buffer(), &parent_slots[i].transferred, i, repost);
  for (;;) wait_alertable(PKDV_INFINITE);
}

void PKDV_CALLBACK mark(std::uint32_t, std::uint32_t, std::uintptr_t context) {
  *reinterpret_cast<bool*>(context) = true;
}

// The child's reads, on `on`: true once handed back.
bool read_in_child(AdapterHandle on) {
  Slot slot;
  bool handed_back = false;
  if (PKDV_PacketReadEx(on, slot.buffer(), &slot.transferred,
                        reinterpret_cast<std::uintptr_t>(&handed_back), mark) != 1)
    return false;
  const auto start = Clock::now();
  while (!handed_back && elapsed_ms(start) < 5000) wait_alertable(100);
  if (!handed_back) PKDV_CancelPacketRead(on, slot.buffer());
  return handed_back;
}

int child(int round) {
  if (round % 2 == 0) std::exit(0);  // at once, through the library's teardown
  const bool inherited = read_in_child(adapter);
  const bool own = read_in_child(open_busy_adapter());
  std::exit(inherited && own ? 0 : 3);
}

}  // namespace

int main() {
  start_watchdog(100s, "a child or the parent hung");
  adapter = open_busy_adapter();
  std::thread(parent_reader).detach();
  while (parent_reads == 0) std::this_thread::sleep_for(5ms);

  for (int round = 0; round < 12; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(17 * round % 110));
    const pid_t pid = fork();
    check(pid >= 0, "fork failed");
    if (pid == 0) child(round);
    int status = 0;
    const auto start = Clock::now();
    pid_t done = 0;
    while ((done = waitpid(pid, &status, WNOHANG)) == 0 && elapsed_ms(start) < 15000)
      std::this_thread::sleep_for(5ms);
    if (done == 0) {
      kill(pid, SIGKILL);
      fail(round % 2 == 0 ? "a child that exits at once hung" : "a child that reads hung");
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::printf("round %d: child status %d\n", round, status);
      fail(round % 2 == 0 ? "a child that exits at once failed"
                          : "a child's reads were not served");
    }
  }
  const int before = parent_reads;
  std::this_thread::sleep_for(500ms);
  check(parent_reads > before, "the parent's reads stopped after the forks");
  std::puts("12 children ended cleanly; the parent reads on");
  return 0;
}
