#include "source.h"

#include <algorithm>
#include <cctype>
#include <map>

#include "adapter.h"
#include "adapter_list.h"
#include "frame_summary.h"
#include "ndis.h"
#include "options.h"
#include "pcap_tools.h"

namespace pkdv_capture {

namespace {

// The first adapter the capture library calls up and not a loopback, as tcpdump picks one.
std::string first_up_adapter() {
  std::vector<AdapterEntry> adapters = list_adapters();
  std::map<std::string, std::string> states = adapter_states();
  for (const AdapterEntry& adapter : adapters) {
    std::string device = adapter.name.starts_with(kAdapterSourcePrefix)
                             ? adapter.name.substr(sizeof kAdapterSourcePrefix - 1)
                             : adapter.name;
    auto state = states.find(device);
    if (state != states.end() && state->second.starts_with("Up") &&
        state->second.find("Loopback") == std::string::npos)
      return adapter.name;
  }
  throw AdapterError(adapters.empty()
                         ? "no adapter to capture on (none is listed: capturing may need root "
                           "or CAP_NET_RAW); give one with -i or a savefile with -r"
                         : "no adapter is up (-D lists " + std::to_string(adapters.size()) +
                               "); give one with -i or a savefile with -r");
}

}  // namespace

std::string adapter_name(const std::string& name) {
  if (name.empty() ||
      !std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); }))
    return name;
  std::vector<AdapterEntry> adapters = list_adapters();
  size_t number = name.size() <= 6 ? std::stoul(name) : 0;
  if (number == 0 || number > adapters.size())
    throw AdapterError("no adapter number " + name + " (-D lists " +
                       std::to_string(adapters.size()) + ")");
  return adapters[number - 1].name;
}

std::string chosen_source(const Options& options) {
  if (options.read_path) return kFileSourcePrefix + *options.read_path;
  if (!options.adapter) return first_up_adapter();
  return adapter_name(*options.adapter);
}

int source_link_type(AdapterHandle adapter, const std::string& source) {
  NdisAnswer medium = ndis_query(adapter, kOidMediaInUse);
  if (medium.answered() && medium.data.size() >= 4) {
    if (medium.word() == kMedium8023) return kLinkTypeEthernet;
    if (medium.word() == kMediumIp) return kLinkTypeRaw;
  }
  return adapter_link_type(source);
}

}  // namespace pkdv_capture
