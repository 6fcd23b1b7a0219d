#include "source.h"

#include <algorithm>
#include <cctype>

#include "adapter.h"
#include "adapter_list.h"
#include "frame_summary.h"
#include "ndis.h"
#include "options.h"
#include "pcap_tools.h"
#include "sample_source.h"

namespace pkdv_capture {

std::string chosen_source(const Options& options) {
  if (options.read_path) return kFileSourcePrefix + *options.read_path;
  if (!options.adapter) return sample_source();
  const std::string& name = *options.adapter;
  if (!std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); }))
    return name;
  std::vector<AdapterEntry> adapters = list_adapters();
  size_t number = name.size() <= 6 ? std::stoul(name) : 0;
  if (number == 0 || number > adapters.size())
    throw AdapterError("no adapter number " + name + " (-D lists " +
                       std::to_string(adapters.size()) + ")");
  return adapters[number - 1].name;
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
