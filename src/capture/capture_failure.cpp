#include "capture/capture_failure.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <string_view>

#include "platform/platform.h"

namespace pkdv::capture {
namespace {

struct Wording {
  std::string_view words;  // lowercase
  std::uint32_t code;
};

// First match wins: libpcap's and the Windows capture library's texts (and
// the system messages they quote). "unknown file format" is libpcap's for a
// file that is no savefile; its other savefile texts ("truncated dump file",
// "bad dump file format", block lengths of pcapng) describe damaged ones.
constexpr Wording kWordings[] = {
    {"only local adapters", sys::kErrorNotSupported},
    {"remote", sys::kErrorNotSupported},
    {"permission", sys::kErrorAccessDenied},
    {"not permitted", sys::kErrorAccessDenied},
    {"access is denied", sys::kErrorAccessDenied},
    {"not up", sys::kErrorNotReady},
    {"no such device", sys::kErrorDevNotExist},
    {"cannot find the device", sys::kErrorDevNotExist},
    {"no such file", sys::kErrorFileNotFound},
    {"cannot find the file", sys::kErrorFileNotFound},
    {"cannot find the path", sys::kErrorFileNotFound},
    {"unknown file format", sys::kErrorBadFormat},
    {"truncated", sys::kErrorFileCorrupt},
    {"dump file", sys::kErrorFileCorrupt},
    {"savefile", sys::kErrorFileCorrupt},
    {"block", sys::kErrorFileCorrupt},
    {"out of memory", sys::kErrorNotEnoughMemory},
};

}  // namespace

std::uint32_t failure_code_from_text(const char* text) {
  if (text == nullptr) return sys::kErrorGenFailure;
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const Wording& wording : kWordings) {
    if (lower.find(wording.words) != std::string::npos) return wording.code;
  }
  return sys::kErrorGenFailure;
}

}  // namespace pkdv::capture
