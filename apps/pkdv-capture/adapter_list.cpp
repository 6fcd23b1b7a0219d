#include "adapter_list.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "pkdv.h"

namespace pkdv_capture {
namespace {

// Far more adapters than any machine has: a bound in case enumeration never reports the end.
constexpr size_t kMaxAdapters = 4096;

std::string text_of(const char (&field)[260]) {
  return std::string(field, strnlen(field, 260));
}

}  // namespace

std::vector<AdapterEntry> list_adapters() {
  std::vector<AdapterEntry> adapters;
  AdapterRegistryInfo info{};
  uint32_t result = PKDV_GetFirstAdapterRegistryInfo(&info);
  while (result == NDIS_STATUS_SUCCESS && adapters.size() < kMaxAdapters) {
    adapters.push_back({text_of(info.name), text_of(info.description)});
    info = AdapterRegistryInfo{};
    result = PKDV_GetNextAdapterRegistryInfo(&info);
  }
  return adapters;
}

int run_list() {
  std::vector<AdapterEntry> adapters = list_adapters();
  if (adapters.empty()) {
    std::fprintf(stderr, "pkdv-capture: no adapters found\n");
    return 0;
  }
  size_t width = std::strlen("NAME");
  for (const AdapterEntry& adapter : adapters) width = std::max(width, adapter.name.size());
  std::printf("%-*s  %s\n", int(width), "NAME", "DESCRIPTION");
  for (const AdapterEntry& adapter : adapters)
    std::printf("%-*s  %s\n", int(width), adapter.name.c_str(), adapter.description.c_str());
  return 0;
}

}  // namespace pkdv_capture
