#include "module/module.h"

#include "adapter/enumeration.h"
#include "engine/engine.h"
#include "platform/platform.h"

namespace pkdv::module {

namespace {
sys::Worker* poller = nullptr;
}

void load() {
  engine::build_state();
  // Not tested on purpose: without a poller reads stay pending, which the
  // client sees as reads that never complete rather than as a crash.
  poller = sys::worker_start(engine::poller_main);
}

void unload(bool process_exiting) {
  // The poller walks the thread table and calls into the capture library: it
  // must be out of both before either goes away.
  const bool poller_stopped = !poller || sys::worker_stop(poller, process_exiting);
  poller = nullptr;
  if (process_exiting) {
    // The platform has ended the poller, perhaps inside a pass, and may have
    // detached the capture library already: free only what can be taken
    // without waiting, and leave the rest to the end of the process.
    engine::clear_map(true);
    return;
  }
  if (!poller_stopped) {
    // A poller that did not stop may still be inside a pass: tearing the
    // state down under it would be a use after free. Leaking it is safe.
    return;
  }
  release_adapter_list();
  engine::clear_map(false);
  engine::destroy_state();
}

}  // namespace pkdv::module
