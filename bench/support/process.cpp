#include "support/process.h"

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

}  // namespace pkdv::bench
