#include "capture/wpcap/open_handles.h"

#include <windows.h>

#include <map>
#include <memory>
#include <string>

#include "capture/wpcap/ndis_driver.h"
#include "capture/wpcap/wpcap_library.h"

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

const OpenHandle* find(pcap_t* handle) {
  auto entry = handles().find(handle);
  return entry == handles().end() ? nullptr : &entry->second;
}

}  // namespace

bool remember_handle(pcap_t* handle, const char* name) {
  const Library* l = library();
  Exclusive guard;
  try {
    handles()[handle] = OpenHandle{name, l ? make_driver(*l, handle) : nullptr};
    return true;
  } catch (const std::bad_alloc&) {
    handles().erase(handle);
    return false;
  }
}

void forget_handle(pcap_t* handle) {
  Exclusive guard;
  handles().erase(handle);
}

bool is_remembered(pcap_t* handle) {
  Exclusive guard;
  return find(handle) != nullptr;
}

const char* remembered_name(pcap_t* handle) {
  Exclusive guard;
  const OpenHandle* entry = find(handle);
  return entry ? entry->name.c_str() : nullptr;
}

capture::Driver* remembered_driver(pcap_t* handle) {
  Exclusive guard;
  const OpenHandle* entry = find(handle);
  return entry ? entry->driver.get() : nullptr;
}

}  // namespace pkdv::wpcap
