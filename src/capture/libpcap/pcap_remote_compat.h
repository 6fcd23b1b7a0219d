// libpcap's remote-capture extension on Linux: the source strings are read by
// capture/capture_source.h.
//
// pcap_findalldevs_ex is declared by <pcap/pcap.h>. Where the installed
// libpcap lacks it (Debian builds it without remote capture),
// pcap_remote_compat.cpp defines its local form with the same signature; the
// build decides at configure time. Sources are opened by the capture unit
// itself (savefiles and local adapters only), so no source can make the
// library reach the network.
#pragma once

#include <pcap/pcap.h>

#include <cstdio>

#include "capture/capture_source.h"

namespace pkdv::capture {

static_assert(kAdapterSourcePrefix == PCAP_SRC_IF_STRING && kFileSourcePrefix == PCAP_SRC_FILE_STRING,
              "libpcap spells the sources as we do");

// The error text for a source that classify_source() calls unsupported, into
// a buffer of at least PCAP_ERRBUF_SIZE bytes.
inline void describe_unsupported_source(char* error, const char* source) {
  std::snprintf(error, PCAP_ERRBUF_SIZE,
                "cannot open '%.120s': only local adapters (NAME or rpcap://NAME) and "
                "savefiles (file://PATH) are supported",
                source);
}

}  // namespace pkdv::capture
