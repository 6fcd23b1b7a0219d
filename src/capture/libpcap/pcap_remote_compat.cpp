// The local form of pcap_findalldevs_ex for a libpcap built without remote
// capture: it lists the local host as a remote-enabled libpcap does; remote
// hosts are refused.
#include "capture/libpcap/pcap_remote_compat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

using pkdv::capture::kAdapterSourcePrefix;

// Replaces `*field` (malloc'd, possibly null) with a malloc'd copy of `text`,
// so pcap_freealldevs can free the list as usual.
bool replace_text(char** field, const std::string& text) {
  char* copy = strdup(text.c_str());
  if (copy == nullptr) return false;
  std::free(*field);
  *field = copy;
  return true;
}

// Gives every listed device the name and description a remote-enabled
// libpcap reports for the local host. False when memory ran out.
bool describe_as_local(pcap_if_t* devices) {
  try {
    for (pcap_if_t* device = devices; device != nullptr; device = device->next) {
      std::string name = std::string(kAdapterSourcePrefix) + device->name;
      bool described = device->description != nullptr && device->description[0] != '\0';
      std::string description = "Network adapter '" +
                                (described ? std::string(device->description) : name) +
                                "' on local host";
      if (!replace_text(&device->name, name) || !replace_text(&device->description, description)) {
        return false;
      }
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

}  // namespace

// Only "rpcap://" (the local adapters) is listed. Names become "rpcap://NAME"
// and descriptions "Network adapter 'DESC' on local host", where DESC is
// libpcap's description or, lacking one, the new name.
extern "C" int pcap_findalldevs_ex(const char* source, struct pcap_rmtauth* /*auth*/,
                                   pcap_if_t** alldevs, char* errbuf) {
  *alldevs = nullptr;
  if (source == nullptr || source != kAdapterSourcePrefix) {
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE,
                  "cannot list '%.120s': only the local adapters (rpcap://) can be listed",
                  source ? source : "(null)");
    return -1;
  }
  if (pcap_findalldevs(alldevs, errbuf) != 0) return -1;
  if (!describe_as_local(*alldevs)) {
    pcap_freealldevs(*alldevs);
    *alldevs = nullptr;
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "out of memory while listing adapters");
    return -1;
  }
  return 0;
}
