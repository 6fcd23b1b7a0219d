// How a capture handle appears in the diagnostics log's lines.
#pragma once

#include "capture/capture.h"

namespace pkdv {

// The adapter's name, never null.
inline const char* traced_name(capture::Handle* handle) {
  const char* name = capture::adapter_name(handle);
  return name ? name : "?";
}

// The driver's device handle; null when no driver is reachable.
inline const void* traced_device(capture::Handle* handle) {
  const capture::Driver* driver = capture::driver(handle);
  return driver ? driver->device_handle() : nullptr;
}

}  // namespace pkdv
