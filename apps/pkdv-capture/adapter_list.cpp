#include "adapter_list.h"

#include <cstdio>
#include <cstring>

#include "pcap_tools.h"
#include "pkdv.h"
#include "pkdv.h"

namespace pkdv_capture {
namespace {

// Far more adapters than any machine has: a bound in case enumeration never reports the end.
constexpr size_t kMaxAdapters = 4096;

std::string text_of(const char (&field)[PKDV_ADAPTER_TEXT_SIZE]) {
  return std::string(field, strnlen(field, sizeof field));
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

std::string adapter_line(size_t number, const AdapterEntry& adapter,
                         const std::map<std::string, std::string>& states) {
  std::string device = adapter.name.starts_with(kAdapterSourcePrefix)
                           ? adapter.name.substr(std::strlen(kAdapterSourcePrefix))
                           : adapter.name;
  std::string line = std::to_string(number) + "." + adapter.name;
  // A local adapter without a description of its own is described by its name alone.
  bool only_the_name =
      adapter.description.empty() ||
      adapter.description == "Network adapter '" + adapter.name + "' on local host";
  if (!only_the_name) line += " (" + adapter.description + ")";
  if (auto state = states.find(device); state != states.end()) line += " [" + state->second + "]";
  return line;
}

int run_list() {
  std::vector<AdapterEntry> adapters = list_adapters();
  if (adapters.empty()) {
    std::fprintf(stderr, "pkdv-capture: no adapters found\n");
    return 0;
  }
  std::map<std::string, std::string> states = adapter_states();
  for (size_t i = 0; i < adapters.size(); ++i)
    std::printf("%s\n", adapter_line(i + 1, adapters[i], states).c_str());
  return 0;
}

}  // namespace pkdv_capture
