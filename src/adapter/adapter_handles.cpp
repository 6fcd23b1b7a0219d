// Open, close, filter and send: each maps onto one capture-library call on the
// capture handle that the client holds as its AdapterHandle.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "adapter/adapter_access.h"
#include "adapter/capture_error_text.h"
#include "adapter/completion.h"
#include "adapter/truth_value.h"
#include "engine/engine.h"
#include "module/trace.h"
#include "pkdv.h"
#include "platform/capture.h"
#include "platform/platform.h"

namespace capture = pkdv::capture;
using pkdv::capture_handle;
using pkdv::names_an_adapter;
using pkdv::trace_local;
using pkdv::traced_device;
using pkdv::traced_name;

namespace {

constexpr char kDevicePrefix[] = "\\Device\\";
constexpr std::size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;

constexpr int kSnapshotLength = 65536;
constexpr int kNotPromiscuous = 0;
constexpr int kReadTimeoutMs = 1;

constexpr std::uint32_t kBpfInstructionSize = 8;

// The capture unit keeps what it learns about a handle in allocated storage;
// running out of memory there is a failed open, never an exception that
// reaches the client.
capture::Handle* open_capture(const char* name) {
  try {
    return capture::open(name, kSnapshotLength, kNotPromiscuous, kReadTimeoutMs,
                         pkdv::capture_error_text);
  } catch (const std::bad_alloc&) {
    pkdv::sys::copy_text(pkdv::capture_error_text, "out of memory", capture::kErrorBufferSize);
    pkdv::sys::set_last_error(pkdv::sys::kErrorNotEnoughMemory);
    return nullptr;
  }
}

// A failure always leaves a reason in the last error: the capture unit's, or
// a general one where it could not tell.
void keep_a_reason() {
  if (pkdv::sys::last_error() == 0) pkdv::sys::set_last_error(pkdv::sys::kErrorGenFailure);
}

// Names come as the platform lists them ("\Device\NPF_..."); the capture
// library wants them without the kernel's namespace. Done in the caller's own
// text, which the client may then read back.
void strip_device_prefix(char* name) {
  if (std::strncmp(name, kDevicePrefix, kDevicePrefixLength) != 0) return;
  char* rest = name + kDevicePrefixLength;
  std::memmove(name, rest, std::strlen(rest) + 1);
}

}  // namespace

extern "C" AdapterHandle PKDV_CALL PKDV_OpenAdapterA(char* name) {
  if (name == nullptr) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidParameter);
    return PKDV_INVALID_ADAPTER;
  }
  trace_local("Open adapter param %s\n", name);
  strip_device_prefix(name);
  trace_local("Open adapter real %s\n", name);
  pkdv::sys::set_last_error(0);
  capture::Handle* handle = open_capture(name);
  if (handle == nullptr) {
    keep_a_reason();
    trace_local("open failed, %s\n", pkdv::capture_error_text);
    return PKDV_INVALID_ADAPTER;
  }
  trace_local("Opened adapter %s, %p\n", traced_name(handle), traced_device(handle));
  return reinterpret_cast<AdapterHandle>(handle);
}

extern "C" AdapterHandle PKDV_CALL PKDV_OpenAdapterW(const wchar_t*) {
  pkdv::sys::set_last_error(pkdv::sys::kErrorNotSupported);
  return PKDV_INVALID_ADAPTER;
}

extern "C" uint8_t PKDV_CALL PKDV_CloseAdapter(AdapterHandle adapter) {
  if (names_an_adapter(adapter)) {
    capture::Handle* handle = capture_handle(adapter);
    trace_local("Close adapter %s, %p\n", traced_name(handle), traced_device(handle));
    // The poller must never poll a closed handle: reads still pending on it
    // leave its reach first.
    pkdv::engine::retire_adapter(adapter);
    capture::close(handle);
  }
  return static_cast<uint8_t>(pkdv::full_width_truth(true));
}

extern "C" uint8_t PKDV_CALL PKDV_SetBPFProgram(AdapterHandle adapter, const void* instructions,
                                                uint32_t length) {
  // A program that is not there is refused, whatever length comes with it.
  const bool installed = names_an_adapter(adapter) && instructions != nullptr &&
                         capture::set_filter(capture_handle(adapter), length / kBpfInstructionSize,
                                             instructions) != -1;
  return static_cast<uint8_t>(pkdv::full_width_truth(installed));
}

extern "C" uint32_t PKDV_CALL PKDV_PacketSendEx(AdapterHandle adapter, const void* frame,
                                                uint32_t length, uint32_t* sent, uintptr_t context,
                                                PKDV_COMPLETION_ROUTINE routine) {
  if (sent != nullptr) *sent = 0;
  // The capture library takes the length as an int; a frame whose size it
  // cannot be told fails like a frame it refuses. Without a counter the
  // client could not learn what was sent: nothing is.
  std::uint32_t status = NDIS_STATUS_FAILURE;
  if (!names_an_adapter(adapter)) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidHandle);
  } else if (frame == nullptr || sent == nullptr || length > static_cast<std::uint32_t>(INT_MAX)) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidParameter);
  } else {
    pkdv::sys::set_last_error(0);
    if (capture::send_frame(capture_handle(adapter), static_cast<const uint8_t*>(frame),
                            static_cast<int>(length)) == 0) {
      status = NDIS_STATUS_SUCCESS;
      *sent = length;
    } else {
      keep_a_reason();
    }
  }
  pkdv::call_completion_routine(routine, status, sent != nullptr ? *sent : 0, context);
  return status;
}
