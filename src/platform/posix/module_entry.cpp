// The shared library's entry points: the loader runs these at dlopen and
// dlclose, and at exit() while the process's other threads still run.
#include "current_thread.h"
#include "module/module.h"

namespace {

__attribute__((constructor)) void on_library_load() {
  pkdv::module::load();
}

__attribute__((destructor)) void on_library_unload() {
  // The poller is still alive here (exit() does not end threads), so the
  // module stops it as for dlclose.
  pkdv::module::unload(false);
  // Last: once the key is deleted, threads that end later no longer call
  // into this library, whose code may be gone by then.
  pkdv::sys::release_thread_states();
}

}  // namespace
