// Which platform family the library runs on, asked anew at every call.
#include <cstdint>

#include "adapter/truth_value.h"
#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv {
namespace {

constexpr std::uint32_t kPlatform95Line = 1;  // VER_PLATFORM_WIN32_WINDOWS

bool is_version_5_0(const sys::VersionInfo& version) {
  return version.major == 5 && version.minor == 0;
}

bool nt_line_except_5_0() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return false;
  return version.platform_id != kPlatform95Line && !is_version_5_0(version);
}

bool nt_line_5_0() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return false;
  return version.platform_id != kPlatform95Line && is_version_5_0(version);
}

bool line_95() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return false;
  return version.platform_id == kPlatform95Line;
}

}  // namespace
}  // namespace pkdv

extern "C" uint8_t PKDV_CALL PKDV_IsWindowsNT(void) {
  return static_cast<uint8_t>(pkdv::full_width_truth(pkdv::nt_line_except_5_0()));
}

extern "C" uint8_t PKDV_CALL PKDV_IsWindows2000(void) {
  return static_cast<uint8_t>(pkdv::full_width_truth(pkdv::nt_line_5_0()));
}

extern "C" uint8_t PKDV_CALL PKDV_IsWindows95(void) {
  return static_cast<uint8_t>(pkdv::full_width_truth(pkdv::line_95()));
}

extern "C" uint32_t PKDV_CALL PKDV_GetLastError(void) {
  return pkdv::sys::last_error();
}
