// Which platform family the library runs on, asked anew at every call.
#include <cstdint>

#include "adapter/truth_value.h"
#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv {
namespace {

enum class Family { kUnknown, k95, kNt5_0, kNt };

Family family() {
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return Family::kUnknown;
  if (version.platform_id == sys::kPlatform95Line) return Family::k95;
  return version.major == 5 && version.minor == 0 ? Family::kNt5_0 : Family::kNt;
}

}  // namespace
}  // namespace pkdv

extern "C" uint8_t PKDV_CALL PKDV_IsWindowsNT(void) {
  return static_cast<uint8_t>(pkdv::full_width_truth(pkdv::family() == pkdv::Family::kNt));
}

extern "C" uint8_t PKDV_CALL PKDV_IsWindows2000(void) {
  return static_cast<uint8_t>(pkdv::full_width_truth(pkdv::family() == pkdv::Family::kNt5_0));
}

extern "C" uint8_t PKDV_CALL PKDV_IsWindows95(void) {
  return static_cast<uint8_t>(pkdv::full_width_truth(pkdv::family() == pkdv::Family::k95));
}

extern "C" uint32_t PKDV_CALL PKDV_GetLastError(void) {
  return pkdv::sys::last_error();
}
