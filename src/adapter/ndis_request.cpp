// NDIS OID queries and sets, passed past the capture library straight to the
// adapter's driver in the driver's PACKET_OID_DATA layout.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>
#include <optional>

#include "adapter/trace_names.h"
#include "pkdv.h"
#include "capture/capture.h"
#include "capture/oid_protocol.h"
#include "platform/platform.h"
#include "platform/trace.h"

namespace capture = pkdv::capture;

namespace {

using capture::kControlQueryOid;
using capture::kControlSetOid;
using capture::kOidDataHeaderSize;

// PACKET_OID_DATA: OID, data length, data. The driver is told the structure's
// size minus its one-byte placeholder array plus the data length (11 + n),
// and the allocation keeps the structure's padded size (12 + n).
constexpr std::uint32_t kOidDriverSizeExtra = 11;
constexpr std::uint32_t kOidAllocationExtra = 12;
constexpr std::uint32_t kLongestData = UINT32_MAX - kOidAllocationExtra;

// The outcomes of the driver call as the client sees them when no bytes came
// back: TRUE, or 50 for a call that failed, at once or in the wait for its
// overlapped result alike (0 would read as success).
constexpr std::uint32_t kDriverSucceeded = 1;
constexpr std::uint32_t kDriverFailed = ERROR_NOT_SUPPORTED;

std::uint8_t* build_oid_buffer(const NdisRequestRecord& request) {
  const std::uint32_t length = request.information_buffer_length;
  // Value-initialised: the driver is handed three bytes past the data too.
  auto* buffer = new (std::nothrow) std::uint8_t[std::size_t{length} + kOidAllocationExtra]();
  if (buffer == nullptr) return nullptr;
  std::memcpy(buffer, &request.oid, sizeof request.oid);
  std::memcpy(buffer + sizeof request.oid, &length, sizeof length);
  if (length != 0) std::memcpy(buffer + kOidDataHeaderSize, request.information_buffer, length);
  return buffer;
}

// Releases the driver buffer without disturbing the last error that the
// driver call left for the client.
void free_oid_buffer(std::uint8_t* buffer) {
  const std::uint32_t error = pkdv::sys::last_error();
  delete[] buffer;
  pkdv::sys::set_last_error(error);
}

// Calls the driver and waits for the answer when it completes asynchronously.
// Nothing when the driver's own code ran out of memory (the driver stand-ins
// build their answers in allocated storage): no answer came, as when the
// driver buffer cannot be allocated.
std::optional<std::uint32_t> run_driver_call(capture::Driver& driver, std::uint32_t code,
                                             std::uint8_t* buffer, std::uint32_t size,
                                             void* overlapped, std::uint32_t* returned) {
  try {
    if (driver.control(code, buffer, size, overlapped, returned)) return kDriverSucceeded;
    if (pkdv::sys::last_error() != pkdv::sys::kErrorIoPending) return kDriverFailed;
    return driver.overlapped_result(overlapped, returned) ? kDriverSucceeded : kDriverFailed;
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
}

// A driver may report more bytes than the client's buffer holds, or than it
// was handed: copy only what fits both, and report what was copied.
void copy_answer(NdisRequestRecord* request, const std::uint8_t* buffer, std::uint32_t size,
                 std::uint32_t returned) {
  const std::uint32_t copied =
      std::min({returned, request->information_buffer_length, size - kOidDataHeaderSize});
  if (copied != 0) std::memcpy(request->information_buffer, buffer + kOidDataHeaderSize, copied);
  request->bytes_written = copied;
  request->bytes_needed = copied;
}

}  // namespace

extern "C" uint32_t PKDV_CALL PKDV_MakeNdisRequest(AdapterHandle adapter,
                                                   NdisRequestRecord* request, void* overlapped,
                                                   uint8_t wait) {
  if (!capture::names_an_adapter(adapter)) return NDIS_STATUS_ADAPTER_NOT_READY;
  capture::Handle* handle = capture::handle_of(adapter);
  capture::Driver* driver = capture::driver(handle);
  if (driver == nullptr) return NDIS_STATUS_ADAPTER_NOT_READY;

  if (request == nullptr) return NDIS_STATUS_INVALID_DATA;
  const bool is_query = request->request_type == PKDV_NDIS_REQUEST_QUERY;
  if (!is_query && request->request_type != PKDV_NDIS_REQUEST_SET) return NDIS_STATUS_INVALID_DATA;
  // A length without the bytes behind it cannot be handed to the driver.
  if (request->information_buffer == nullptr && request->information_buffer_length != 0) {
    return NDIS_STATUS_INVALID_DATA;
  }
  if (!wait) return NDIS_STATUS_FAILURE;

  // A length the buffer's size cannot express is memory no allocation gives.
  if (request->information_buffer_length > kLongestData) return NDIS_STATUS_FAILURE;
  std::uint8_t* buffer = build_oid_buffer(*request);
  if (buffer == nullptr) return NDIS_STATUS_FAILURE;
  const std::uint32_t size = request->information_buffer_length + kOidDriverSizeExtra;

  pkdv::trace("DeviceIoContorl %s, %p\n", pkdv::traced_name(handle), driver->device_handle());
  std::uint32_t returned = 0;
  const std::optional<std::uint32_t> outcome = run_driver_call(
      *driver, is_query ? kControlQueryOid : kControlSetOid, buffer, size, overlapped, &returned);
  if (!outcome) {
    free_oid_buffer(buffer);
    return NDIS_STATUS_FAILURE;
  }
  // A failed call's count means nothing (a failed wait may still report one):
  // only a success hands bytes back, and the last error stays the driver's.
  const bool answered = *outcome == kDriverSucceeded && returned != 0;
  if (answered && is_query) copy_answer(request, buffer, size, returned);
  free_oid_buffer(buffer);
  return answered ? NDIS_STATUS_SUCCESS : *outcome;
}
