#include "pkdv.h"
#include "platform/platform.h"

extern "C" uint32_t PKDV_CALL PKDV_WaitAlertable(uint32_t milliseconds) {
  return pkdv::sys::wait_alertable(milliseconds);
}
