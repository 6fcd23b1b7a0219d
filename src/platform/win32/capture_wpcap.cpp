// The capture unit on Windows: wpcap.dll, loaded on first use.
#include <cstdio>

#include "platform/capture.h"
#include "platform/capture_failure.h"
#include "platform/platform.h"
#include "platform/win32/forwarder_header.h"
#include "platform/win32/open_handles.h"
#include "platform/win32/wpcap_library.h"

namespace pkdv::capture {

namespace {

// A Handle is the library's pcap_t, a Device its pcap_if_t.
wpcap::pcap_t* native(Handle* handle) {
  return reinterpret_cast<wpcap::pcap_t*>(handle);
}
const wpcap::pcap_if_t* native(const Device* device) {
  return reinterpret_cast<const wpcap::pcap_if_t*>(device);
}

void report_missing_library(char* error) {
  std::snprintf(error, kErrorBufferSize, "%s", wpcap::load_failure());
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
    // The capture library tells why only in words.
    sys::set_last_error(failure_code_from_text(error));
    return nullptr;
  }
  if (!l->honours_read_timeout && l->setnonblock) {
    // The poller holds its lock across every poll, so an empty poll must come
    // back at once even where the read time-out is ignored.
    char ignored[wpcap::kErrorBufferSize];
    l->setnonblock(p, 1, ignored);
  }
  wpcap::remember_handle(p, source);
  return reinterpret_cast<Handle*>(p);
}

void close(Handle* handle) {
  wpcap::forget_handle(native(handle));
  if (const wpcap::Library* l = wpcap::library()) l->close(native(handle));
}

int next_frame(Handle* handle, FrameHeader* header, const std::uint8_t** data) {
  wpcap::pcap_pkthdr* h = nullptr;
  const unsigned char* bytes = nullptr;
  const wpcap::Library* l = wpcap::library();
  const int result = l->next_ex(native(handle), &h, &bytes);
  if (result == 1) {
    *header = l->may_shift_header ? wpcap::read_forwarder_header(*h)
                                  : FrameHeader{h->ts.tv_sec, h->ts.tv_usec, h->caplen, h->len};
    *data = bytes;
  }
  return result;
}

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
  return wpcap::remembered_name(native(handle));
}

Driver* driver(Handle* handle) {
  return wpcap::remembered_driver(native(handle));
}

const char* library_version() {
  const wpcap::Library* l = wpcap::library();
  return l ? l->lib_version() : wpcap::load_failure();
}

}  // namespace pkdv::capture
