// The shared library, loaded at run time so that the test decides when it is
// unloaded, and the exports the stress test calls.
#pragma once

#include "pkdv.h"

namespace pkdv::stress {

struct Library {
  PKDV_OPEN_ADAPTER_A_FUNC* open = nullptr;
  PKDV_CLOSE_ADAPTER_FUNC* close = nullptr;
  PKDV_PACKET_READ_EX_FUNC* read = nullptr;
  PKDV_CANCEL_PACKET_READ_FUNC* cancel = nullptr;
  PKDV_WAIT_ALERTABLE_FUNC* wait = nullptr;

  // dlopen and look the exports up; false with the reason in `error`.
  bool load(const char* path, const char** error);
  // dlclose: the library stops its poller and tears every read down.
  void unload();

 private:
  void* handle_ = nullptr;
};

}  // namespace pkdv::stress
