// The shared library's entry points: the loader runs these at dlopen and
// dlclose, and at exit() while the process's other threads still run. The
// teardown is the same for both: it frees the state only when no client
// thread is inside the engine, and turns back whoever comes later, so it
// need not know which of the two it is.
#include <pthread.h>

#include "capture/libpcap/capture_libpcap.h"
#include "module/module.h"
#include "threads.h"

namespace {

// A forked child has only the thread that called fork(): what the parent's
// other threads held (locks, reads, the poller) is forgotten.
void in_forked_child() {
  pkdv::sys::forget_parent_threads_after_fork();
  pkdv::module::forget_parent_after_fork();
}

__attribute__((constructor)) void on_library_load() {
  pkdv::module::load();
  // Unregistered by the loader when the library is unloaded.
  pthread_atfork(nullptr, nullptr, in_forked_child);
}

__attribute__((destructor)) void on_library_unload() {
  // The poller is still alive here (exit() does not end threads), so the
  // module stops it.
  pkdv::module::unload(false);
  // With the poller stopped, nothing reads the handles any more.
  pkdv::capture::leave_inherited_handles();
  // Last: once the key is deleted, threads that end later no longer call
  // into this library, whose code may be gone by then.
  pkdv::sys::release_thread_states();
}

}  // namespace
