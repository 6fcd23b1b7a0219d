#include "pkdv.h"
#include "platform/platform.h"

static_assert(pkdv::sys::kInfinite == PKDV_INFINITE && pkdv::sys::kWaitIoCompletion == PKDV_WAIT_IO_COMPLETION,
              "the export passes the wait's argument and result through");

extern "C" uint32_t PKDV_CALL PKDV_WaitAlertable(uint32_t milliseconds) {
  return pkdv::sys::wait_alertable(milliseconds);
}
