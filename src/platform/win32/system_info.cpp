// Version query, last error and the bounded text copy.
#include <windows.h>

#include "platform/platform.h"

namespace pkdv::sys {

static_assert(sizeof(OSVERSIONINFOA) == 148);

bool query_version(VersionInfo* out) {
  // Asked anew every time: the answer decides how completion routines are
  // called, and nothing may be cached.
  OSVERSIONINFOA info{};
  info.dwOSVersionInfoSize = 148;
  if (!GetVersionExA(&info)) return false;
  out->platform_id = info.dwPlatformId;
  out->major = info.dwMajorVersion;
  out->minor = info.dwMinorVersion;
  return true;
}

std::uint32_t last_error() {
  return GetLastError();
}
void set_last_error(std::uint32_t code) {
  SetLastError(code);
}

void copy_text(char* destination, const char* source, int limit) {
  // lstrcpynA takes a limit of 0 or less as no limit at all, and faults on a
  // missing source (a capture library may give no description).
  if (limit <= 0) return;
  lstrcpynA(destination, source ? source : "", limit);
}

}  // namespace pkdv::sys
