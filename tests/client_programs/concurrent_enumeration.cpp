// Two threads enumerate the adapters at the same time, over and over: the
// list they share must never be freed under either.
#include <cstring>

#include "client.h"

int main() {
  using namespace client;
  start_watchdog(120s, "enumeration did not finish");
  auto enumerate = [] {
    for (int round = 0; round < 1000; ++round) {
      AdapterRegistryInfo info;
      for (std::uint32_t r = PKDV_GetFirstAdapterRegistryInfo(&info); r == NDIS_STATUS_SUCCESS;
           r = PKDV_GetNextAdapterRegistryInfo(&info)) {
        check(std::memchr(info.name, 0, sizeof info.name) != nullptr, "a name is not terminated");
      }
    }
  };
  std::thread other(enumerate);
  enumerate();
  other.join();
  std::puts("two threads enumerated 1000 times each");
  return 0;
}
