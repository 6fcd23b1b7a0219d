#include "platform/win32/open_handles.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "platform/win32/oid_transport.h"
#include "platform/win32/wpcap_library.h"

namespace pkdv::wpcap {

namespace {

struct OpenHandle {
  std::string name;
  std::unique_ptr<capture::Driver> driver;
};

SRWLOCK lock = SRWLOCK_INIT;
std::map<pcap_t*, OpenHandle>& handles() {
  static std::map<pcap_t*, OpenHandle> map;
  return map;
}

class Exclusive {
 public:
  Exclusive() { AcquireSRWLockExclusive(&lock); }
  ~Exclusive() { ReleaseSRWLockExclusive(&lock); }
  Exclusive(const Exclusive&) = delete;
  Exclusive& operator=(const Exclusive&) = delete;
};

OpenHandle* find(pcap_t* handle) {
  auto entry = handles().find(handle);
  return entry == handles().end() ? nullptr : &entry->second;
}

}  // namespace

void remember_handle(pcap_t* handle, const char* name) {
  Exclusive guard;
  try {
    handles()[handle] = OpenHandle{name, nullptr};
  } catch (const std::bad_alloc&) {
    handles().erase(handle);
  }
}

void forget_handle(pcap_t* handle) {
  Exclusive guard;
  handles().erase(handle);
}

const char* remembered_name(pcap_t* handle) {
  Exclusive guard;
  const OpenHandle* entry = find(handle);
  return entry ? entry->name.c_str() : nullptr;
}

capture::Driver* remembered_driver(pcap_t* handle) {
  Exclusive guard;
  OpenHandle* entry = find(handle);
  if (!entry) return nullptr;
  // Made on first use and kept until close; cheap to seek again when this
  // capture library has no driver to offer.
  const Library* l = library();
  if (!entry->driver && l) entry->driver = make_driver(*l, handle);
  return entry->driver.get();
}

}  // namespace pkdv::wpcap
