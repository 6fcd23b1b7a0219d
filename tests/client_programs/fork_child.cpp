// fork() while reads are outstanding and the poller runs (between passes or
// inside one, by chance of timing). Every child must be able to exit at once,
// and to use the library: post reads on an adapter it inherited and on one
// it opens itself, and have them handed back. The parent goes on as before:
// children that exit or close an inherited savefile leave its position in
// the file alone. A fork from inside a completion routine gives a child that
// returns into the library: it must not crash, nor hand any of the parent's
// reads to a routine.
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

// Waits for the child; its exit status, or -1 when it hung (then killed).
int status_of(pid_t pid) {
  int status = 0;
  const auto start = Clock::now();
  pid_t done = 0;
  while ((done = waitpid(pid, &status, WNOHANG)) == 0 && elapsed_ms(start) < 15000)
    std::this_thread::sleep_for(5ms);
  if (done != 0) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  kill(pid, SIGKILL);
  return -1;
}

void PKDV_CALLBACK count(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
  auto* counts = reinterpret_cast<int*>(context);
  ++counts[status == NDIS_STATUS_SUCCESS ? 0 : 1];
}

// Posts reads[first, last) on `on` and waits for all of them to come back.
void read_batch(AdapterHandle on, std::vector<Slot>& reads, std::size_t first, std::size_t last,
                int* counts) {
  const int target = counts[0] + counts[1] + static_cast<int>(last - first);
  for (std::size_t i = first; i < last; ++i)
    check(PKDV_PacketReadEx(on, reads[i].buffer(), &reads[i].transferred,
                            reinterpret_cast<std::uintptr_t>(counts), count) == 1,
          "post refused");
  const auto start = Clock::now();
  while (counts[0] + counts[1] < target && elapsed_ms(start) < 30000) wait_alertable(100);
  check(counts[0] + counts[1] == target, "the parent's savefile reads were not handed back");
}

// The sample savefile read to its end across two children: one exits at
// once, one closes its inherited copy of the adapter first. The parent must
// still get each of its 241 frames.
void savefile_position_survives_children() {
  const AdapterHandle file = open_busy_adapter();
  std::vector<Slot> reads(300);
  int counts[2] = {0, 0};  // succeeded, failed
  read_batch(file, reads, 0, 10, counts);
  for (int closes = 0; closes < 2; ++closes) {
    const pid_t pid = fork();
    check(pid >= 0, "fork failed");
    if (pid == 0) {
      if (closes) PKDV_CloseAdapter(file);
      std::exit(0);
    }
    check(status_of(pid) == 0, "a child that exits at once failed");
    read_batch(file, reads, 10 + 10 * closes, 20 + 10 * closes, counts);
  }
  read_batch(file, reads, 30, reads.size(), counts);
  std::printf("parent read %d frames of the savefile across two children\n", counts[0]);
  std::fflush(stdout);  // before the next fork copies the buffer
  check(counts[0] == 241, "a child moved the parent's position in its savefile");
  PKDV_CloseAdapter(file);
}

// fork() in the routine of the first of several reads handed back together.
pid_t parent_pid;
pid_t forked_child;
int handed_back;
bool exit_inside_routine;

void PKDV_CALLBACK fork_on_first(std::uint32_t, std::uint32_t, std::uintptr_t) {
  if (getpid() != parent_pid) _exit(5);  // a parent's read handed back in the child
  if (++handed_back != 1) return;
  forked_child = fork();
  check(forked_child >= 0, "fork failed");
  if (forked_child == 0 && exit_inside_routine) std::exit(0);
}

// The child, back from the routine: whatever the library still had queued
// for this thread is the parent's. Then it reads on its own.
[[noreturn]] void child_back_from_routine() {
  for (int i = 0; i < 3; ++i) wait_alertable(50);
  std::exit(read_in_child(open_busy_adapter()) ? 0 : 3);
}

void fork_inside_routine() {
  constexpr int kReads = 8;
  const AdapterHandle file = open_busy_adapter();
  std::vector<Slot> reads(kReads);
  parent_pid = getpid();
  for (int round = 0; round < 8; ++round) {
    handed_back = 0;
    exit_inside_routine = round % 2 == 1;
    for (auto& slot : reads)
      check(PKDV_PacketReadEx(file, slot.buffer(), &slot.transferred, 0, fork_on_first) == 1,
            "post refused");
    const auto start = Clock::now();
    while (handed_back < kReads && elapsed_ms(start) < 10000) {
      wait_alertable(100);
      if (getpid() != parent_pid) child_back_from_routine();
    }
    check(handed_back == kReads, "reads were not handed back");
    const int status = status_of(forked_child);
    if (status != 0) std::printf("round %d: child status %d\n", round, status);
    check(status != 5, "the parent's reads were handed back in a child");
    check(status == 0, "a child forked inside a routine failed");
  }
  PKDV_CloseAdapter(file);
  std::puts("8 children forked inside a routine ended cleanly");
  std::fflush(stdout);
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
  savefile_position_survives_children();
  fork_inside_routine();

  for (int round = 0; round < 12; ++round) {
    std::this_thread::sleep_for(std::chrono::milliseconds(17 * round % 110));
    const pid_t pid = fork();
    check(pid >= 0, "fork failed");
    if (pid == 0) child(round);
    const int status = status_of(pid);
    if (status < 0)
      fail(round % 2 == 0 ? "a child that exits at once hung" : "a child that reads hung");
    if (status != 0) {
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
