// The source strings of libpcap's remote-capture extension ("rpcap://NAME",
// "file://PATH", a plain adapter name) and how we read them.
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
#include <string_view>

namespace pkdv::capture {

inline constexpr std::string_view kAdapterSourcePrefix = PCAP_SRC_IF_STRING;  // "rpcap://"
inline constexpr std::string_view kFileSourcePrefix = PCAP_SRC_FILE_STRING;   // "file://"

enum class SourceKind {
  kLocalAdapter,  // "rpcap://NAME" or "NAME": `name` is the kernel's interface name
  kSavefile,      // "file://PATH": `name` is the path
  kUnsupported,   // a remote host ("rpcap://HOST/...", "rpcaps://...") or another scheme
};

struct Source {
  SourceKind kind;
  std::string_view name;
};

// Interface names never contain '/', so a '/' after "rpcap://" starts the
// device part of a remote source ("rpcap://host:port/eth0").
inline Source classify_source(std::string_view text) {
  if (text.starts_with(kFileSourcePrefix)) {
    return {SourceKind::kSavefile, text.substr(kFileSourcePrefix.size())};
  }
  if (text.starts_with(kAdapterSourcePrefix)) {
    std::string_view rest = text.substr(kAdapterSourcePrefix.size());
    if (rest.find('/') != std::string_view::npos) return {SourceKind::kUnsupported, text};
    return {SourceKind::kLocalAdapter, rest};
  }
  if (text.find("://") != std::string_view::npos) return {SourceKind::kUnsupported, text};
  return {SourceKind::kLocalAdapter, text};
}

// The error text for a source that classify_source() calls unsupported, into
// a buffer of at least PCAP_ERRBUF_SIZE bytes.
inline void describe_unsupported_source(char* error, const char* source) {
  std::snprintf(error, PCAP_ERRBUF_SIZE,
                "cannot open '%.120s': only local adapters (NAME or rpcap://NAME) and "
                "savefiles (file://PATH) are supported",
                source);
}

}  // namespace pkdv::capture
