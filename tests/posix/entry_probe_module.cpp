// A shared object made of the real POSIX entry point and platform services
// with a stand-in module and no capture unit, for the load/unload test.
#include "capture/libpcap/capture_libpcap.h"
#include "module/module.h"

namespace {
bool loaded = false;
}

namespace pkdv::module {
void load() {
  loaded = true;
}
void unload(bool) {
  loaded = false;
}
void forget_parent_after_fork() {}
}  // namespace pkdv::module

namespace pkdv::capture {
void leave_inherited_handles() {}
}  // namespace pkdv::capture

extern "C" bool probe_loaded() {
  return loaded;
}
