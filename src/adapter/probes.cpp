// Which platform family the library runs on, asked anew at every call.
#include <cstdint>

#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv {
namespace {

constexpr std::uint32_t kPlatform95Line = 1;  // VER_PLATFORM_WIN32_WINDOWS

bool is_version_5_0(const sys::VersionInfo& version) {
  return version.major == 5 && version.minor == 0;
}

// Clients may test all 32 bits of a probe's result, not only the low byte the
// declared type promises. Each probe therefore computes a full 32-bit 0 or 1
// out of line, and the export passes that register on untouched.
[[gnu::noinline]] std::uint32_t nt_line_except_5_0() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return 0;
  return version.platform_id != kPlatform95Line && !is_version_5_0(version) ? 1u : 0u;
}

[[gnu::noinline]] std::uint32_t nt_line_5_0() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return 0;
  return version.platform_id != kPlatform95Line && is_version_5_0(version) ? 1u : 0u;
}

[[gnu::noinline]] std::uint32_t line_95() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return 0;
  return version.platform_id == kPlatform95Line ? 1u : 0u;
}

}  // namespace
}  // namespace pkdv

extern "C" uint8_t PKDV_CALL PKDV_IsWindowsNT(void) {
  return static_cast<uint8_t>(pkdv::nt_line_except_5_0());
}

extern "C" uint8_t PKDV_CALL PKDV_IsWindows2000(void) {
  return static_cast<uint8_t>(pkdv::nt_line_5_0());
}

extern "C" uint8_t PKDV_CALL PKDV_IsWindows95(void) {
  return static_cast<uint8_t>(pkdv::line_95());
}

extern "C" uint32_t PKDV_CALL PKDV_GetLastError(void) {
  return pkdv::sys::last_error();
}
