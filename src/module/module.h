// Load and unload of the module, called by the OS entry point
// (platform/<os>/module_entry.cpp).
#pragma once

namespace pkdv::module {

// Builds the static state and starts the poller.
void load();
// Stops the poller, frees the adapter list, runs clear_map and destroys the
// static state. `process_exiting`: the process is ending (the platform may
// have ended the poller already); otherwise the library is being unloaded
// from a process that goes on running.
void unload(bool process_exiting);

}  // namespace pkdv::module
