// Open, close, filter and send: each maps onto one capture-library call on the
// capture handle that the client holds as its AdapterHandle.
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "adapter/trace_names.h"
#include "adapter/truth_value.h"
#include "engine/engine.h"
#include "pkdv.h"
#include "capture/bpf_program.h"
#include "capture/capture.h"
#include "platform/platform.h"
#include "platform/trace.h"

namespace capture = pkdv::capture;
using pkdv::trace;
using pkdv::traced_device;
using pkdv::traced_name;

namespace {

constexpr char kDevicePrefix[] = "\\Device\\";
constexpr std::size_t kDevicePrefixLength = sizeof kDevicePrefix - 1;

constexpr int kSnapshotLength = PKDV_SNAPSHOT_LENGTH;
constexpr int kNotPromiscuous = 0;
constexpr int kReadTimeoutMs = 1;

constexpr std::uint32_t kBpfInstructionSize = sizeof(pkdv::bpf::Instruction);

// The capture unit keeps what it learns about a handle in allocated storage;
// running out of memory there is a failed open, never an exception that
// reaches the client. The reason goes to the diagnostics log.
capture::Handle* open_capture(const char* name, char (&reason)[capture::kErrorBufferSize]) {
  try {
    return capture::open(name, kSnapshotLength, kNotPromiscuous, kReadTimeoutMs, reason);
  } catch (const std::bad_alloc&) {
    pkdv::sys::copy_text(reason, "out of memory", capture::kErrorBufferSize);
    pkdv::sys::set_last_error(pkdv::sys::kErrorNotEnoughMemory);
    return nullptr;
  }
}

// Only a handle that open returned and close has not closed is ever handed
// to the capture library: a closed or made-up one would be read through.
bool is_open_adapter(AdapterHandle adapter) {
  return capture::names_an_adapter(adapter) && capture::is_open(capture::handle_of(adapter));
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
  trace("Open adapter param %s\n", name);
  strip_device_prefix(name);
  trace("Open adapter real %s\n", name);
  pkdv::sys::set_last_error(0);
  char reason[capture::kErrorBufferSize] = "";
  capture::Handle* handle = open_capture(name, reason);
  if (handle == nullptr) {
    keep_a_reason();
    trace("open failed, %s\n", reason);
    return PKDV_INVALID_ADAPTER;
  }
  trace("Opened adapter %s, %p\n", traced_name(handle), traced_device(handle));
  return capture::adapter_of(handle);
}

extern "C" AdapterHandle PKDV_CALL PKDV_OpenAdapterW(const wchar_t*) {
  pkdv::sys::set_last_error(pkdv::sys::kErrorNotSupported);
  return PKDV_INVALID_ADAPTER;
}

extern "C" uint8_t PKDV_CALL PKDV_CloseAdapter(AdapterHandle adapter) {
  if (!capture::names_an_adapter(adapter)) return static_cast<uint8_t>(pkdv::full_width_truth(true));
  capture::Handle* handle = capture::handle_of(adapter);
  if (is_open_adapter(adapter))
    trace("Close adapter %s, %p\n", traced_name(handle), traced_device(handle));
  // The poller must never poll a closed handle: reads still pending on it
  // leave its reach as the handle closes.
  const bool closed = pkdv::engine::close_adapter(adapter);
  if (!closed) pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidHandle);
  return static_cast<uint8_t>(pkdv::full_width_truth(closed));
}

extern "C" uint8_t PKDV_CALL PKDV_SetBPFProgram(AdapterHandle adapter, const void* instructions,
                                                uint32_t length) {
  // A program that is not there, or that a capture library could not run
  // safely, is refused before any capture library sees it.
  const std::uint32_t count = length / kBpfInstructionSize;
  bool installed = false;
  try {
    pkdv::bpf::Program checked;
    if (!is_open_adapter(adapter)) {
      pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidHandle);
    } else if (!pkdv::bpf::read_valid_program(instructions, count, &checked)) {
      pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidParameter);
    } else {
      pkdv::sys::set_last_error(0);
      installed = capture::set_filter(capture::handle_of(adapter), count, checked.data()) != -1;
      if (!installed) keep_a_reason();
    }
  } catch (const std::bad_alloc&) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorNotEnoughMemory);
  }
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
  if (!is_open_adapter(adapter)) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidHandle);
  } else if (frame == nullptr || sent == nullptr || length > static_cast<std::uint32_t>(INT_MAX)) {
    pkdv::sys::set_last_error(pkdv::sys::kErrorInvalidParameter);
  } else {
    pkdv::sys::set_last_error(0);
    if (capture::send_frame(capture::handle_of(adapter), static_cast<const uint8_t*>(frame),
                            static_cast<int>(length)) == 0) {
      status = NDIS_STATUS_SUCCESS;
      *sent = length;
    } else {
      keep_a_reason();
    }
  }
  pkdv::engine::call_completion_routine(routine, status, sent != nullptr ? *sent : 0, context);
  return status;
}
