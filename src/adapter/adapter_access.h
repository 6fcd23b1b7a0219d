// What a client's AdapterHandle is: the capture handle itself, while -1 and
// null name no adapter. The adapter functions and the read engine (which
// polls the handles of posted reads) both read it so.
#pragma once

#include "pkdv.h"
#include "platform/capture.h"

namespace pkdv {

inline bool names_an_adapter(AdapterHandle adapter) {
  return adapter != 0 && adapter != PKDV_INVALID_ADAPTER;
}

inline capture::Handle* capture_handle(AdapterHandle adapter) {
  return reinterpret_cast<capture::Handle*>(adapter);
}

// The adapter's name for trace lines, never null.
inline const char* traced_name(capture::Handle* handle) {
  const char* name = capture::adapter_name(handle);
  return name ? name : "?";
}

// The driver's device handle for trace lines; null when no driver is reachable.
inline const void* traced_device(capture::Handle* handle) {
  const capture::Driver* driver = capture::driver(handle);
  return driver ? driver->device_handle() : nullptr;
}

}  // namespace pkdv
