#include "support/process.h"

#include <malloc.h>
#include <unistd.h>

#include <fstream>

namespace pkdv::bench {

std::int64_t resident_kib() {
  std::ifstream statm("/proc/self/statm");
  std::int64_t total_pages = 0;
  std::int64_t resident_pages = 0;
  if (!(statm >> total_pages >> resident_pages)) return 0;
  return resident_pages * (sysconf(_SC_PAGESIZE) / 1024);
}

std::int64_t heap_in_use_kib() {
  const struct mallinfo2 heap = mallinfo2();
  return static_cast<std::int64_t>((heap.uordblks + heap.hblkhd) / 1024);
}

}  // namespace pkdv::bench
