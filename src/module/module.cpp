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
  if (poller) {
    sys::worker_stop(poller, process_exiting);
    poller = nullptr;
  }
  release_adapter_list();
  engine::clear_map(process_exiting);
  engine::destroy_state();
}

}  // namespace pkdv::module
