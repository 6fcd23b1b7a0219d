// The source strings the capture unit opens and lists, in the capture
// library's own forms ("rpcap://NAME", "file://PATH", a plain adapter name),
// and how we read them: the same for every backend.
#pragma once

#include <string_view>

namespace pkdv::capture {

inline constexpr std::string_view kAdapterSourcePrefix = "rpcap://";  // the local adapters
inline constexpr std::string_view kFileSourcePrefix = "file://";

enum class SourceKind {
  kLocalAdapter,  // "rpcap://NAME" or "NAME": `name` is the adapter's name
  kSavefile,      // "file://PATH": `name` is the path
  kUnsupported,   // a remote host ("rpcap://HOST/...", "rpcaps://...") or another scheme
};

struct Source {
  SourceKind kind;
  std::string_view name;
};

// Adapter names never contain '/', so a '/' after "rpcap://" starts the
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

}  // namespace pkdv::capture
