// Load and unload of the module, called by the OS entry point
// (platform/<os>/module_entry.cpp).
#pragma once

namespace pkdv::module {

// Builds the static state and starts the poller.
void load();
// Stops the poller, frees the adapter list, runs clear_map and destroys the
// static state; the state stays, unused, while a client thread is inside the
// engine (POSIX runs this at exit() with the client's threads still running).
// `process_exiting`: the process is ending and the platform has ended the
// poller already; otherwise the poller is still running and is stopped.
void unload(bool process_exiting);
// In a child process just forked (POSIX): forgets the parent's threads,
// reads and enumeration, as engine::forget_parent_after_fork says.
void forget_parent_after_fork();

}  // namespace pkdv::module
