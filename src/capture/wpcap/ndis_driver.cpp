#include "capture/wpcap/ndis_driver.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "capture/oid_protocol.h"

namespace pkdv::wpcap {

namespace {

using capture::kControlQueryOid;
using capture::kControlSetOid;
using capture::kOidDataHeaderSize;

// WinPcap 4.x: the driver's own device, driven with its control codes.
class DeviceDriver final : public capture::Driver {
 public:
  explicit DeviceDriver(HANDLE device) : device_(device) {}

  bool control(std::uint32_t code, void* buffer, std::uint32_t size, void* overlapped,
               std::uint32_t* returned) override {
    DWORD count = 0;
    const BOOL ok = DeviceIoControl(device_, code, buffer, size, buffer, size, &count,
                                    static_cast<OVERLAPPED*>(overlapped));
    *returned = count;
    return ok != 0;
  }

  bool overlapped_result(void* overlapped, std::uint32_t* returned) override {
    DWORD count = 0;
    const BOOL ok =
        GetOverlappedResult(device_, static_cast<OVERLAPPED*>(overlapped), &count, TRUE);
    *returned = count;
    return ok != 0;
  }

  const void* device_handle() const override { return device_; }

 private:
  HANDLE device_;
};

// libpcap >= 1.8 on Windows (Npcap): the driver's control codes changed and
// the handle's layout is private, so requests go through the library's own
// OID calls, which complete at once (never pending). A query reports the
// bytes the driver returned; a set returns no data.
class OidRequestDriver final : public capture::Driver {
 public:
  OidRequestDriver(const Library& library, pcap_t* handle) : library_(library), handle_(handle) {}

  bool control(std::uint32_t code, void* buffer, std::uint32_t size, void*,
               std::uint32_t* returned) override {
    if ((code != kControlQueryOid && code != kControlSetOid) || size < kOidDataHeaderSize) {
      SetLastError(ERROR_INVALID_PARAMETER);
      return false;
    }
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    std::uint32_t oid = 0;
    std::uint32_t declared = 0;
    std::memcpy(&oid, bytes, 4);
    std::memcpy(&declared, bytes + 4, 4);
    std::size_t length = std::min<std::size_t>(declared, size - kOidDataHeaderSize);
    const bool query = code == kControlQueryOid;
    SetLastError(ERROR_SUCCESS);
    const int result = (query ? library_.oid_get : library_.oid_set)(
        handle_, oid, bytes + kOidDataHeaderSize, &length);
    if (result != 0) {
      // The library reports failure without an error code of its own; keep
      // the one its driver call left, but never a code that means "pending".
      const DWORD error = GetLastError();
      SetLastError(error != ERROR_SUCCESS && error != ERROR_IO_PENDING ? error : ERROR_GEN_FAILURE);
      return false;
    }
    *returned =
        query ? static_cast<std::uint32_t>(std::min<std::size_t>(length, size - kOidDataHeaderSize))
              : 0;
    return true;
  }

  bool overlapped_result(void*, std::uint32_t* returned) override {
    *returned = 0;
    SetLastError(ERROR_INVALID_FUNCTION);  // control() never leaves a request pending
    return false;
  }

  const void* device_handle() const override { return nullptr; }

 private:
  const Library& library_;
  pcap_t* handle_;
};

}  // namespace

std::unique_ptr<capture::Driver> make_driver(const Library& library, pcap_t* handle) {
  if (library.has_adapter_object) {
    // Only WinPcap 4.x is known to have this layout; any other library's
    // handle is never read through.
    void* adapter = *reinterpret_cast<void* const*>(handle);
    if (!adapter) return nullptr;  // not a local adapter (file or remote source)
    HANDLE device = *static_cast<const HANDLE*>(adapter);
    if (!device || device == INVALID_HANDLE_VALUE) return nullptr;
    return std::unique_ptr<capture::Driver>(new (std::nothrow) DeviceDriver(device));
  }
  if (library.oid_get && library.oid_set)
    return std::unique_ptr<capture::Driver>(new (std::nothrow) OidRequestDriver(library, handle));
  return nullptr;
}

}  // namespace pkdv::wpcap
