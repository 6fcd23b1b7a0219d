// Crashes on purpose: its test is expected to fail, which proves that a crash
// under Wine is reported as a failure and not lost.
#include <cstdio>

int main() {
  std::puts("writing through a null pointer");
  std::fflush(stdout);
  volatile int* volatile target = nullptr;
  *target = 1;
  return 0;
}
