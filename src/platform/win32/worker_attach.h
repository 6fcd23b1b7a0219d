// Hook from the module entry point into the worker: the loader's thread-attach
// notification tells the worker that its thread has left the loader's start-up
// and is about to run the library's code.
#pragma once

namespace pkdv::sys {

// Called at DLL_PROCESS_ATTACH, before the worker starts.
void worker_use_loader_notifications();
// Called for every DLL_THREAD_ATTACH, under the loader lock.
void worker_note_thread_attach();

}  // namespace pkdv::sys
