#include "engine/completion.h"

#include "platform/platform.h"

namespace pkdv::engine {

void call_completion_routine(PKDV_COMPLETION_ROUTINE routine, std::uint32_t status,
                             std::uint32_t count, std::uintptr_t context) {
  if (routine == nullptr) return;
  sys::VersionInfo version{};
  if (!sys::query_version(&version)) return;
  if (version.platform_id != sys::kPlatform95Line) {
    routine(status, count, context);
    return;
  }
  // A client of the 95 family wrote its routine with the context alone and
  // cast it to the common type; call it the way it was written. The detour
  // through void (*)() is the portable spelling of that cast.
  auto routine_95 =
      reinterpret_cast<PKDV_COMPLETION_ROUTINE_95>(reinterpret_cast<void (*)()>(routine));
  routine_95(context);
}

}  // namespace pkdv::engine
