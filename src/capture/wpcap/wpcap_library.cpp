#include "capture/wpcap/wpcap_library.h"

#include <windows.h>

#include "capture/wpcap/forwarder_header.h"

#include <cstdio>
#include <cwchar>
#include <cstring>

namespace pkdv::wpcap {

namespace {

Library loaded{};
bool available = false;
char failure[160] = "wpcap.dll has not been loaded";
INIT_ONCE once = INIT_ONCE_STATIC_INIT;

// Npcap installs into a folder of its own under the system directory; loading
// it by full path with the altered search path lets it find its packet.dll
// beside it without touching the process's DLL search path. WinPcap installs
// (and Wine's builtin) answer to the plain name.
HMODULE load_module() {
  wchar_t path[MAX_PATH + 32];
  const UINT length = GetSystemDirectoryW(path, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    std::wcscpy(path + length, L"\\Npcap\\wpcap.dll");
    if (HMODULE module = LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
      return module;
  }
  return LoadLibraryExW(L"wpcap.dll", nullptr, 0);
}

template <typename Function>
bool resolve(HMODULE module, const char* name, Function* out, bool required) {
  *out = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  if (*out || !required) return true;
  std::snprintf(failure, sizeof failure, "wpcap.dll lacks %s", name);
  return false;
}

// Wine's ntdll exports its version; Windows' does not.
bool under_wine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

BOOL CALLBACK load_once(INIT_ONCE*, void*, void**) {
  HMODULE module = load_module();
  if (!module) {
    std::snprintf(failure, sizeof failure, "wpcap.dll could not be loaded (error %lu)",
                  GetLastError());
    return TRUE;
  }
  Library& l = loaded;
  const bool complete = resolve(module, "pcap_open", &l.open, true) &&
                        resolve(module, "pcap_close", &l.close, true) &&
                        resolve(module, "pcap_next_ex", &l.next_ex, true) &&
                        resolve(module, "pcap_sendpacket", &l.sendpacket, true) &&
                        resolve(module, "pcap_setfilter", &l.setfilter, true) &&
                        resolve(module, "pcap_findalldevs_ex", &l.findalldevs_ex, true) &&
                        resolve(module, "pcap_freealldevs", &l.freealldevs, true) &&
                        resolve(module, "pcap_lib_version", &l.lib_version, true) &&
                        resolve(module, "pcap_setnonblock", &l.setnonblock, false) &&
                        resolve(module, "pcap_oid_get_request", &l.oid_get, false) &&
                        resolve(module, "pcap_oid_set_request", &l.oid_set, false);
  if (!complete) {
    FreeLibrary(module);
    return TRUE;
  }
  const char* version = l.lib_version();
  l.honours_read_timeout = version_honours_read_timeout(version);
  l.has_adapter_object = version_has_adapter_object(version);
  l.may_shift_header = may_shift_header(under_wine(), version);
  if (l.honours_read_timeout) {
    resolve(module, "pcap_getevent", &l.getevent, false);
    resolve(module, "pcap_setmintocopy", &l.setmintocopy, false);
  }
  available = true;
  return TRUE;
}

bool starts_with(const char* text, const char* prefix) {
  return text && std::strncmp(text, prefix, std::strlen(prefix)) == 0;
}

}  // namespace

bool version_honours_read_timeout(const char* version) {
  return starts_with(version, "WinPcap version ") || starts_with(version, "Npcap version ");
}

bool version_has_adapter_object(const char* version) {
  return starts_with(version, "WinPcap version 4.");
}

const Library* library() {
  InitOnceExecuteOnce(&once, load_once, nullptr, nullptr);
  return available ? &loaded : nullptr;
}

const char* load_failure() {
  library();
  return failure;
}

}  // namespace pkdv::wpcap
