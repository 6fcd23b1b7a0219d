// Running out of memory inside the real capture unit, met by a client of the
// shared library in a private namespace: every allocation made while opening
// a live adapter or listing the adapters fails in turn. A failed open leaves
// no capture handle (its packet socket and ring), no driver stand-in (its own
// packet socket) and no block of ours behind; a failed listing leaves no
// device list (the address sanitizer lane reports it at exit otherwise).
#include <dirent.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include "doubles/failing_heap.h"
#include "pkdv.h"

namespace pkdv::testing {
namespace {

constexpr long kMostAllocations = 100;

int open_descriptors() {
  DIR* fds = opendir("/proc/self/fd");
  int count = 0;
  while (readdir(fds) != nullptr) ++count;
  closedir(fds);
  return count;
}

#define SKIP_OUTSIDE_NAMESPACE()                                                           \
  do {                                                                                     \
    if (if_nametoindex("pkdv0") == 0)                                                      \
      GTEST_SKIP() << "needs the veth pair of tests/live/netns_run.sh (ctest runs it so)"; \
  } while (false)

TEST(OutOfMemory, AFailedOpenLeavesNothingOpen) {
  SKIP_OUTSIDE_NAMESPACE();
  char warm_up[] = "pkdv0";  // the capture unit's lasting state exists from here on
  ASSERT_EQ(PKDV_CloseAdapter(PKDV_OpenAdapterA(warm_up)), 1);
  const int descriptors = open_descriptors();
  HeapFaults::forget_outstanding();
  bool struck = true;
  for (long n = 1; struck && n <= kMostAllocations; ++n) {
    char name[] = "pkdv0";
    AdapterHandle adapter;
    {
      HeapFaults::fail_at(n);
      HeapWatch watch;
      adapter = PKDV_OpenAdapterA(name);
    }
    struck = HeapFaults::struck();
    EXPECT_EQ(adapter == PKDV_INVALID_ADAPTER, struck) << "allocation " << n;
    if (adapter != PKDV_INVALID_ADAPTER) PKDV_CloseAdapter(adapter);
    EXPECT_EQ(open_descriptors(), descriptors) << "allocation " << n;
    EXPECT_EQ(HeapFaults::outstanding(), 0) << "allocation " << n;
  }
  EXPECT_FALSE(struck) << "an open makes at most " << kMostAllocations << " allocations";
}

TEST(OutOfMemory, AFailedListingKeepsNoList) {
  SKIP_OUTSIDE_NAMESPACE();
  AdapterRegistryInfo info;
  bool struck = true;
  for (long n = 1; struck && n <= kMostAllocations; ++n) {
    std::uint32_t result;
    {
      HeapFaults::fail_at(n);
      HeapWatch watch;
      result = PKDV_GetFirstAdapterRegistryInfo(&info);
    }
    struck = HeapFaults::struck();
    EXPECT_EQ(result,
              struck ? static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED) : NDIS_STATUS_SUCCESS)
        << "allocation " << n;
    EXPECT_EQ(HeapFaults::outstanding(), 0) << "allocation " << n;
  }
  EXPECT_FALSE(struck) << "a listing makes at most " << kMostAllocations << " allocations";
}

}  // namespace
}  // namespace pkdv::testing
