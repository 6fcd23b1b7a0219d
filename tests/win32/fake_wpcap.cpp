// A stand-in wpcap.dll for the Windows lane: plays WinPcap 4.x, Npcap or a
// plain libpcap build (by its version text) so the capture unit's choices can
// be checked without any capture driver. Loaded in place of Wine's builtin
// with WINEDLLOVERRIDES=wpcap=n from the test program's folder.
//
// WinPcap layout: a handle's first word points to an adapter object whose
// first word is a device handle (here an event, which DeviceIoControl
// refuses); sources starting with "file://" have no adapter object.
// FAKE_WPCAP_POLL_MS makes every poll take that long (a slow capture library).
// fake_shift_headers(1) gives frame headers the layout of Wine 8.0's 32-bit
// forwarder: [seconds, captured length, two words of garbage].
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <vector>

#include "fake_wpcap.h"

using pkdv::testing::fake_wpcap::OidRecord;
using pkdv::testing::fake_wpcap::OpenRecord;

namespace {

struct Adapter {
  HANDLE device;
  char reserved[76];
  char name[64];
};

struct Header {
  std::int32_t seconds, microseconds;
  std::uint32_t captured, wire;
};

struct Pcap {
  Adapter* adapter;  // must stay the first member
  OpenRecord record;
  std::deque<std::vector<std::uint8_t>> frames;
  std::vector<std::uint8_t> current;
  Header header;
};

struct Device {
  Device* next;
  char* name;
  char* description;
  void* addresses;
  std::uint32_t flags;
};

CRITICAL_SECTION lock;
struct Oid {
  int result = 0;
  std::uint32_t error = 0;
  std::vector<std::uint8_t> answer;
} next_oid;
OidRecord last_oid{};
bool shift_headers = false;

struct Guard {
  Guard() { EnterCriticalSection(&lock); }
  ~Guard() { LeaveCriticalSection(&lock); }
};

int oid_request(bool set, void* p, std::uint32_t oid, void* data, std::size_t* length) {
  Guard guard;
  (void)p;
  last_oid.calls++;
  last_oid.was_set = set;
  last_oid.oid = oid;
  last_oid.length_in = *length;
  if (next_oid.result != 0) {
    SetLastError(next_oid.error);
    return -1;
  }
  const std::size_t n = next_oid.answer.size() < *length ? next_oid.answer.size() : *length;
  if (!set) std::memcpy(data, next_oid.answer.data(), n);
  *length = next_oid.answer.size();
  return 0;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) InitializeCriticalSection(&lock);
  return TRUE;
}

__declspec(dllexport) const char* pcap_lib_version() {
  static char text[200];
  DWORD n = GetEnvironmentVariableA("FAKE_WPCAP_VERSION", text, sizeof text);
  if (n == 0 || n >= sizeof text) std::strcpy(text, "libpcap version 1.10.3 (fake)");
  return text;
}

__declspec(dllexport) void* pcap_open(const char* source, int snaplen, int flags, int timeout,
                                      void*, char* errbuf) {
  if (std::strncmp(source, "missing", 7) == 0) {
    std::strcpy(errbuf, "fake: no such adapter");
    return nullptr;
  }
  auto* p = new Pcap{};
  if (std::strncmp(source, "file://", 7) != 0) {
    p->adapter = new Adapter{};
    p->adapter->device = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  }
  std::strncpy(p->record.source, source, sizeof p->record.source - 1);
  p->record.snapshot_length = snaplen;
  p->record.flags = flags;
  p->record.read_timeout_ms = timeout;
  return p;
}

__declspec(dllexport) void pcap_close(void* handle) {
  // Kept allocated on purpose: the tests read the record after close.
  static_cast<Pcap*>(handle)->record.closed = 1;
}

__declspec(dllexport) int pcap_setnonblock(void* handle, int on, char*) {
  static_cast<Pcap*>(handle)->record.nonblocking = on;
  return 0;
}

__declspec(dllexport) int pcap_next_ex(void* handle, Header** header, const std::uint8_t** data) {
  char delay[16];
  if (GetEnvironmentVariableA("FAKE_WPCAP_POLL_MS", delay, sizeof delay) - 1 < sizeof delay - 1)
    Sleep(static_cast<DWORD>(std::atoi(delay)));
  Guard guard;
  auto* p = static_cast<Pcap*>(handle);
  if (p->frames.empty()) return 0;
  p->current = std::move(p->frames.front());
  p->frames.pop_front();
  const auto length = static_cast<std::uint32_t>(p->current.size());
  p->header = shift_headers ? Header{1, static_cast<std::int32_t>(length), 0x7FF22F90, 0x7FF20AD0}
                            : Header{1, 5, length, length};
  *header = &p->header;
  *data = p->current.data();
  return 1;
}

__declspec(dllexport) int pcap_sendpacket(void*, const std::uint8_t*, int) {
  return 0;
}
// A program without instructions is refused, as a failing filter.
__declspec(dllexport) int pcap_setfilter(void*, void* program) {
  return *static_cast<const unsigned*>(program) == 0 ? -1 : 0;
}

__declspec(dllexport) int pcap_findalldevs_ex(const char*, void*, Device** list, char*) {
  auto* second = new Device{nullptr, _strdup("rpcap://fake1"), nullptr, nullptr, 0};
  *list = new Device{second, _strdup("rpcap://fake0"), _strdup("fake adapter 0"), nullptr, 0};
  return 0;
}

__declspec(dllexport) void pcap_freealldevs(Device* list) {
  while (list) {
    Device* next = list->next;
    std::free(list->name);
    std::free(list->description);
    delete list;
    list = next;
  }
}

__declspec(dllexport) int pcap_oid_get_request(void* p, std::uint32_t oid, void* data,
                                               std::size_t* length) {
  return oid_request(false, p, oid, data, length);
}

__declspec(dllexport) int pcap_oid_set_request(void* p, std::uint32_t oid, const void* data,
                                               std::size_t* length) {
  return oid_request(true, p, oid, const_cast<void*>(data), length);
}

// --- Test controls. ---

__declspec(dllexport) const OpenRecord* fake_open_record(void* handle) {
  return &static_cast<Pcap*>(handle)->record;
}

__declspec(dllexport) void* fake_device_handle(void* handle) {
  auto* p = static_cast<Pcap*>(handle);
  return p->adapter ? p->adapter->device : nullptr;
}

__declspec(dllexport) void fake_push_frame(void* handle, const std::uint8_t* data,
                                           std::uint32_t length) {
  Guard guard;
  static_cast<Pcap*>(handle)->frames.emplace_back(data, data + length);
}

__declspec(dllexport) void fake_script_oid(int result, std::uint32_t error,
                                           const std::uint8_t* answer, std::size_t answer_length) {
  Guard guard;
  next_oid.result = result;
  next_oid.error = error;
  next_oid.answer.assign(answer, answer + answer_length);
}

__declspec(dllexport) void fake_shift_headers(int on) {
  Guard guard;
  shift_headers = on != 0;
}

__declspec(dllexport) const OidRecord* fake_last_oid() {
  return &last_oid;
}

}  // extern "C"
