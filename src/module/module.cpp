#include "module/module.h"

#include "adapter/enumeration.h"
#include "engine/engine.h"
#include "capture/capture.h"
#include "platform/platform.h"
#include "platform/trace.h"

namespace pkdv::module {

void load() {
  trace_open_from_environment();
  engine::build_state();
  engine::start_poller_or_at_first_read();
}

void unload(bool process_exiting) {
  // The poller walks the thread table and calls into the capture library: it
  // must be out of both before either goes away.
  const bool poller_stopped = engine::stop_poller(process_exiting);
  // A savefile read ahead waits for its writer in a thread of ours, also
  // when the client never closed it.
  if (!process_exiting) capture::stop_background_reads();
  // Client threads may still be inside (on POSIX, exit() tears the library
  // down while they run): they go on with the state as it is, and whoever
  // comes later is turned back.
  const bool nobody_inside = engine::close_gate();
  if (process_exiting) {
    // The platform has ended the poller, perhaps inside a pass, and may have
    // detached the capture library already: free only what can be taken
    // without waiting, and leave the rest to the end of the process.
    engine::clear_map(true);
    return;
  }
  if (!poller_stopped || !nobody_inside) {
    // Freeing the state under a thread that uses it would be a use after
    // free; leaking it is safe.
    return;
  }
  release_adapter_list();
  engine::clear_map(false);
  engine::destroy_state();
  trace_close();
}

void forget_parent_after_fork() {
  engine::forget_parent_after_fork();
  forget_enumeration_after_fork();
}

}  // namespace pkdv::module
