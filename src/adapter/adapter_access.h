// What the adapter functions need to know about a client's AdapterHandle: it
// is the capture handle itself, and -1 or null name no adapter.
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
