// The capture unit on Windows: wpcap.dll, loaded on first use.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "capture/capture.h"
#include "capture/capture_failure.h"
#include "capture/capture_source.h"
#include "capture/open_handles.h"
#include "capture/wpcap/forwarder_header.h"
#include "capture/wpcap/ndis_driver.h"
#include "capture/wpcap/wpcap_library.h"
#include "platform/platform.h"

namespace pkdv::capture {

namespace {

// A Handle is the library's pcap_t, a Device its pcap_if_t.
wpcap::pcap_t* native(Handle* handle) {
  return reinterpret_cast<wpcap::pcap_t*>(handle);
}
const wpcap::pcap_if_t* native(const Device* device) {
  return reinterpret_cast<const wpcap::pcap_if_t*>(device);
}

// What open() learned about a handle: the name it was opened with and its
// driver, found at open, so that asking for either (trace lines do) changes
// nothing.
struct OpenRecord {
  std::string name;
  std::unique_ptr<Driver> driver;
};
using OpenHandles = OpenHandleTable<wpcap::pcap_t, OpenRecord>;

// False when the handle cannot be remembered (no memory).
bool remember(const wpcap::Library& l, wpcap::pcap_t* p, const char* name) {
  try {
    return OpenHandles::instance().remember(p, OpenRecord{name, wpcap::make_driver(l, p)});
  } catch (const std::bad_alloc&) {
    return false;
  }
}

const OpenRecord* find(Handle* handle) {
  return OpenHandles::instance().find(native(handle));
}

void report_missing_library(char* error) {
  std::snprintf(error, kErrorBufferSize, "%s", wpcap::load_failure());
}

// The system clock in microseconds since 1970. Only a forwarder to a Unix
// libpcap asks for it, so it runs only under Wine, whose clock is exact to
// 100 ns.
std::int64_t unix_time_us() {
  constexpr std::uint64_t kFileTimeAt1970 = 116444736000000000;  // 100 ns units since 1601
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t since_1601 =
      (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(since_1601 - kFileTimeAt1970) / 10;
}

// Whether the capture library lists the adapter `name` among the local ones
// (with or without "rpcap://").
bool is_listed(const wpcap::Library* l, std::string_view name) {
  char error[kErrorBufferSize] = "";
  wpcap::pcap_if_t* devices = nullptr;
  if (l->findalldevs_ex(kAdapterSourcePrefix.data(), nullptr, &devices, error) != 0) {
    return true;  // unknown
  }
  bool listed = false;
  for (const wpcap::pcap_if_t* d = devices; d && !listed; d = d->next) {
    listed = classify_source(d->name ? d->name : "").name == name;
  }
  l->freealldevs(devices);
  return listed;
}

// Why an open failed. Some capture libraries (Wine's) give one text for every
// failure; then the source itself tells what it can: a remote host, a file
// that is not there or cannot be opened at all, an adapter that is not listed.
std::uint32_t open_failure_code(const wpcap::Library* l, const char* source, const char* error) {
  const std::uint32_t from_text = failure_code_from_text(error);
  if (from_text != sys::kErrorGenFailure) return from_text;
  const Source parsed = classify_source(source);
  switch (parsed.kind) {
    case SourceKind::kSavefile: {
      const std::string path(parsed.name);
      // A file that is there but refused without a word: a capture library
      // that opens no savefiles.
      return GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES ? sys::kErrorFileNotFound
                                                                         : sys::kErrorNotSupported;
    }
    case SourceKind::kUnsupported:
      return sys::kErrorNotSupported;  // another scheme, or rpcap://HOST/ADAPTER
    case SourceKind::kLocalAdapter:
      break;
  }
  return is_listed(l, parsed.name) ? from_text : sys::kErrorDevNotExist;
}

}  // namespace

Handle* open(const char* source, int snapshot_length, int flags, int read_timeout_ms, char* error) {
  const wpcap::Library* l = wpcap::library();
  if (!l) {
    report_missing_library(error);
    sys::set_last_error(sys::kErrorModNotFound);
    return nullptr;
  }
  wpcap::pcap_t* p = l->open(source, snapshot_length, flags, read_timeout_ms, nullptr, error);
  if (!p) {
    sys::set_last_error(open_failure_code(l, source, error));
    return nullptr;
  }
  if (!l->honours_read_timeout && l->setnonblock) {
    // The poller holds its lock across every poll, so an empty poll must come
    // back at once even where the read time-out is ignored.
    char ignored[kErrorBufferSize];
    l->setnonblock(p, 1, ignored);
  }
  if (l->setmintocopy && classify_source(source).kind != SourceKind::kSavefile) {
    // The handle's event is signalled once this much data is there; the
    // default, 16 KB, would hold a lone frame back until the read time-out.
    l->setmintocopy(p, 1);
  }
  if (!remember(*l, p, source)) {
    l->close(p);
    std::snprintf(error, kErrorBufferSize, "out of memory");
    sys::set_last_error(sys::kErrorNotEnoughMemory);
    return nullptr;
  }
  return reinterpret_cast<Handle*>(p);
}

void close(Handle* handle) {
  // The record, and with it the driver, ends before the handle it uses.
  OpenHandles::instance().forget(native(handle));
  if (const wpcap::Library* l = wpcap::library()) l->close(native(handle));
}

bool is_open(Handle* handle) {
  return OpenHandles::in_quick_slot(native(handle)) || find(handle) != nullptr;
}

int next_frame(Handle* handle, FrameHeader* header, const std::uint8_t** data) {
  wpcap::pcap_pkthdr* h = nullptr;
  const unsigned char* bytes = nullptr;
  const wpcap::Library* l = wpcap::library();
  const int result = l->next_ex(native(handle), &h, &bytes);
  if (result == 1) {
    *header = l->may_shift_header ? wpcap::read_forwarder_header(*h, unix_time_us())
                                  : FrameHeader{h->ts.tv_sec, h->ts.tv_usec, h->caplen, h->len};
    *data = bytes;
  }
  return result;
}

// A savefile has frames, or its end, until it is closed. WinPcap and Npcap
// signal an adapter's event when frames came; other capture libraries
// cannot tell.
Readiness readiness(Handle* handle) {
  const OpenRecord* record = find(handle);
  if (record && classify_source(record->name.c_str()).kind == SourceKind::kSavefile)
    return {Readiness::Kind::kNow, nullptr};
  const wpcap::Library* l = wpcap::library();
  if (void* event = l && l->getevent ? l->getevent(native(handle)) : nullptr)
    return {Readiness::Kind::kWaitable, event};
  return {};
}

// Every capture call is made by the poller itself: there is no thread to end.
void stop_background_reads() {}

int send_frame(Handle* handle, const std::uint8_t* frame, int length) {
  return wpcap::library()->sendpacket(native(handle), frame, length);
}

int set_filter(Handle* handle, std::uint32_t count, const void* instructions) {
  wpcap::bpf_program program{
      count, const_cast<wpcap::bpf_insn*>(static_cast<const wpcap::bpf_insn*>(instructions))};
  return wpcap::library()->setfilter(native(handle), &program);
}

int find_all_devices(const char* source, Device** list, char* error) {
  const wpcap::Library* l = wpcap::library();
  if (!l) {
    report_missing_library(error);
    return -1;
  }
  wpcap::pcap_if_t* devices = nullptr;
  const int result = l->findalldevs_ex(source, nullptr, &devices, error);
  *list = reinterpret_cast<Device*>(devices);
  return result;
}

void free_all_devices(Device* list) {
  const wpcap::Library* l = wpcap::library();
  if (list && l) l->freealldevs(reinterpret_cast<wpcap::pcap_if_t*>(list));
}

const Device* device_next(const Device* device) {
  return reinterpret_cast<const Device*>(native(device)->next);
}
const char* device_name(const Device* device) {
  return native(device)->name;
}
const char* device_description(const Device* device) {
  return native(device)->description;
}

const char* adapter_name(Handle* handle) {
  const OpenRecord* record = find(handle);
  return record ? record->name.c_str() : nullptr;
}

Driver* driver(Handle* handle) {
  const OpenRecord* record = find(handle);
  return record ? record->driver.get() : nullptr;
}

}  // namespace pkdv::capture
