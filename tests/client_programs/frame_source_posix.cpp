// Frames from the sample savefile, and the library's own alertable wait.
#include <string>

#include "client.h"

namespace client {

AdapterHandle open_busy_adapter() {
  std::string name = std::string("file://") + PKDV_SAMPLE_SAVEFILE;
  const AdapterHandle adapter = PKDV_OpenAdapterA(name.data());
  check(adapter != PKDV_INVALID_ADAPTER, "the sample savefile does not open");
  return adapter;
}

std::uint32_t wait_alertable(std::uint32_t milliseconds) {
  return PKDV_WaitAlertable(milliseconds);
}

}  // namespace client
