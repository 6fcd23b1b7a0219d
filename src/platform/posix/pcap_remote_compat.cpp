// Local forms of pcap_open and pcap_findalldevs_ex for a libpcap built without
// remote capture. They accept the sources a remote-enabled libpcap accepts for
// the local host and answer as it does; remote hosts are refused.
#include "pcap_remote_compat.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

namespace {

using pkdv::capture::classify_source;
using pkdv::capture::kAdapterSourcePrefix;
using pkdv::capture::SourceKind;

// Four times libpcap's default: 32 blocks of 256 KiB at a 64 KiB snapshot,
// enough for the frames of one pause of the poller (see capture_libpcap.cpp).
constexpr int kRingBytes = 8 << 20;

pcap_t* open_adapter(const std::string& name, int snapshot_length, int flags, int read_timeout,
                     char* error) {
  pcap_t* p = pcap_create(name.c_str(), error);
  if (p == nullptr) return nullptr;
  // Of pcap_open's flags only promiscuous mode means anything for a local
  // Linux adapter.
  if (pcap_set_snaplen(p, snapshot_length) != 0 ||
      pcap_set_promisc(p, (flags & PCAP_OPENFLAG_PROMISCUOUS) != 0) != 0 ||
      pcap_set_timeout(p, read_timeout) != 0 || pcap_set_buffer_size(p, kRingBytes) != 0) {
    std::snprintf(error, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(p));
    pcap_close(p);
    return nullptr;
  }
  int status = pcap_activate(p);
  if (status < 0) {
    // pcap_geterr is empty for some failures (e.g. "no such device" on some
    // kernels); pcap_statustostr always has a text.
    const char* reason = pcap_geterr(p);
    std::snprintf(error, PCAP_ERRBUF_SIZE, "%s: %s", name.c_str(),
                  reason[0] != '\0' ? reason : pcap_statustostr(status));
    pcap_close(p);
    return nullptr;
  }
  return p;
}

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

extern "C" pcap_t* pcap_open(const char* source, int snaplen, int flags, int read_timeout,
                             struct pcap_rmtauth* /*auth*/, char* errbuf) {
  if (source == nullptr) {
    std::snprintf(errbuf, PCAP_ERRBUF_SIZE, "no source given");
    return nullptr;
  }
  auto [kind, name] = classify_source(source);
  switch (kind) {
    case SourceKind::kSavefile:
      return pcap_open_offline(std::string(name).c_str(), errbuf);
    case SourceKind::kLocalAdapter:
      return open_adapter(std::string(name), snaplen, flags, read_timeout, errbuf);
    case SourceKind::kUnsupported:
      break;
  }
  pkdv::capture::describe_unsupported_source(errbuf, source);
  return nullptr;
}

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
