// The capture unit: every libpcap call the library makes goes through here.
// One backend per capture library (libpcap linked directly on Linux, wpcap.dll
// loaded at run time on Windows); the tests link a scripted double instead.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv::capture {

// The capture library's handle (pcap_t). Its value is the client's
// AdapterHandle, while -1 and null name no adapter.
struct Handle;

inline bool names_an_adapter(AdapterHandle adapter) {
  return adapter != 0 && adapter != PKDV_INVALID_ADAPTER;
}
inline Handle* handle_of(AdapterHandle adapter) {
  return reinterpret_cast<Handle*>(adapter);
}
inline AdapterHandle adapter_of(Handle* handle) {
  return reinterpret_cast<AdapterHandle>(handle);
}
// One element of the capture library's device list (pcap_if_t) and the list.
struct Device;

inline constexpr int kErrorBufferSize = 256;  // the capture library's PCAP_ERRBUF_SIZE

// One captured frame's header, with the width of the Windows header: seconds
// and microseconds as signed 32-bit values.
struct FrameHeader {
  std::int32_t seconds;
  std::int32_t microseconds;
  std::uint32_t captured_length;
  std::uint32_t wire_length;
};

// pcap_open: "rpcap://NAME", "file://PATH" or a plain adapter name. nullptr on
// failure with the reason in `error` (kErrorBufferSize bytes) and, as a
// platform error code, in the last error (platform.h: access denied, no such
// adapter or file, adapter not up, not a savefile, damaged savefile, remote
// capture not supported; kErrorGenFailure when the reason is not known).
// Where the capture library ignores the read time-out while no traffic comes,
// the handle is switched to non-blocking so an empty poll returns at once.
// A capture unit whose library fills a ring in blocks (Linux) gives live
// adapters the ring's own size and block time-out instead of `read_timeout_ms`.
Handle* open(const char* source, int snapshot_length, int flags, int read_timeout_ms, char* error);
void close(Handle* handle);
// Whether `handle` is one that open() returned and close() has not closed.
// Any value may be asked about: it is only looked up, never read through.
bool is_open(Handle* handle);

// pcap_next_ex: 1 with a frame (header and data valid until the next call on
// this handle), 0 when none is ready, negative on error or end of a savefile.
int next_frame(Handle* handle, FrameHeader* header, const std::uint8_t** data);

// How the poller learns that a handle has frames, so that it can sleep until
// then rather than poll on a clock.
struct Readiness {
  enum class Kind {
    kNone,      // the capture library cannot tell: poll it now and then
    kNow,       // frames (or the end of a savefile) are there: no need to wait
    kWaitable,  // `source` becomes ready when frames may have come
  };
  Kind kind = Kind::kNone;
  sys::WaitableHandle source{};
};
Readiness readiness(Handle* handle);

// Unload: ends the threads the capture unit runs for handles still open
// (savefiles that are no regular file are read ahead on their own, on
// Linux), so that none runs on in code about to be unmapped.
void stop_background_reads();

// pcap_sendpacket: 0 on success; otherwise the last error says why where the
// capture unit can tell (kErrorNotSupported on a savefile, kErrorBadLength for
// a frame the adapter cannot carry, kErrorNotReady for an adapter that is
// down).
int send_frame(Handle* handle, const std::uint8_t* frame, int length);

// pcap_setfilter with `count` 8-byte BPF instructions: 0 on success, -1 on failure.
int set_filter(Handle* handle, std::uint32_t count, const void* instructions);

// pcap_findalldevs_ex: 0 and a list (possibly empty: nullptr), or -1.
int find_all_devices(const char* source, Device** list, char* error);
void free_all_devices(Device* list);
const Device* device_next(const Device* device);
const char* device_name(const Device* device);
// nullptr when the capture library gave no description.
const char* device_description(const Device* device);

// The name the handle was opened with (after "\Device\" removal), or nullptr
// when the handle is unknown. Used for trace lines.
const char* adapter_name(Handle* handle);

// The adapter's driver, reached the way the capture library allows; nullptr
// when it cannot be reached (then NDIS requests report "not ready").
class Driver {
 public:
  virtual ~Driver() = default;
  // DeviceIoControl on the driver's device: `buffer` is input and output of
  // `size` bytes. True on success with `*returned` set; false with the
  // platform's last error set (kErrorIoPending: finish with overlapped_result).
  virtual bool control(std::uint32_t code, void* buffer, std::uint32_t size, void* overlapped,
                       std::uint32_t* returned) = 0;
  // GetOverlappedResult, waiting for completion.
  virtual bool overlapped_result(void* overlapped, std::uint32_t* returned) = 0;
  // The device handle, for trace lines only.
  virtual const void* device_handle() const = 0;
};
Driver* driver(Handle* handle);

}  // namespace pkdv::capture
