// The usual POSIX recipe for a signal: block it in main (every thread started
// later inherits the mask) and take it with sigwait in one thread. The
// library's poller, started when the library was loaded before main, must not
// be the thread the kernel picks for it.
#include <signal.h>
#include <unistd.h>

#include "client.h"

int main() {
  using namespace client;
  check(PKDV_IsWindowsNT() == 1, "the library does not answer");  // linked and loaded
  sigset_t term;
  sigemptyset(&term);
  sigaddset(&term, SIGTERM);
  check(pthread_sigmask(SIG_BLOCK, &term, nullptr) == 0, "cannot block SIGTERM");
  start_watchdog(20s, "SIGTERM never reached the sigwait thread");
  std::thread waiter([&] {
    int taken = 0;
    check(sigwait(&term, &taken) == 0 && taken == SIGTERM, "sigwait failed");
  });
  for (int i = 0; i < 20; ++i) kill(getpid(), SIGTERM);  // a poller that takes it ends the process
  waiter.join();
  std::puts("SIGTERM taken by sigwait");
  return 0;
}
