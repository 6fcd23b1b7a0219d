#include "library.h"

#include <dlfcn.h>

namespace pkdv::stress {

namespace {

template <typename Function>
bool find(void* handle, const char* name, Function** out) {
  *out = reinterpret_cast<Function*>(dlsym(handle, name));
  return *out != nullptr;
}

}  // namespace

bool Library::load(const char* path, const char** error) {
  handle_ = dlopen(path, RTLD_NOW | RTLD_LOCAL);
  if (!handle_) {
    *error = dlerror();
    return false;
  }
  if (!find(handle_, "PKDV_OpenAdapterA", &open) || !find(handle_, "PKDV_CloseAdapter", &close) ||
      !find(handle_, "PKDV_PacketReadEx", &read) ||
      !find(handle_, "PKDV_CancelPacketRead", &cancel) ||
      !find(handle_, "PKDV_WaitAlertable", &wait)) {
    *error = "an export is missing";
    return false;
  }
  return true;
}

void Library::unload() {
  if (handle_) dlclose(handle_);
  handle_ = nullptr;
  open = nullptr;
  close = nullptr;
  read = nullptr;
  cancel = nullptr;
  wait = nullptr;
}

}  // namespace pkdv::stress
