// The DLL's entry point. Everything here runs under the loader lock: no
// capture library is loaded and no thread is waited for (see worker.cpp).
#include <windows.h>

#include "module/module.h"
#include "platform/win32/worker_attach.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      pkdv::sys::worker_use_loader_notifications();
      pkdv::module::load();
      break;
    case DLL_THREAD_ATTACH:
      pkdv::sys::worker_note_thread_attach();
      break;
    case DLL_PROCESS_DETACH:
      // `reserved` set: the process is ending and the system has already
      // ended our thread; otherwise FreeLibrary in a process that goes on.
      pkdv::module::unload(reserved != nullptr);
      break;
    default:
      break;
  }
  return TRUE;
}
