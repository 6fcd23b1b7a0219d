#include "adapter/completion.h"

namespace pkdv {

void call_completion_routine(PKDV_COMPLETION_ROUTINE routine, std::uint32_t status,
                             std::uint32_t count, std::uintptr_t context) {
  if (routine == nullptr) return;
  if (PKDV_IsWindowsNT() || PKDV_IsWindows2000()) {
    routine(status, count, context);
    return;
  }
  if (PKDV_IsWindows95()) {
    // A client of the 95 family wrote its routine with the context alone and
    // cast it to the common type; call it the way it was written. The detour
    // through void (*)() is the portable spelling of that cast.
    auto routine_95 =
        reinterpret_cast<PKDV_COMPLETION_ROUTINE_95>(reinterpret_cast<void (*)()>(routine));
    routine_95(context);
  }
}

}  // namespace pkdv
