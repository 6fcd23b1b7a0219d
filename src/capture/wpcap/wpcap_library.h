// wpcap.dll, loaded at run time on first use and kept for the life of the
// process, with the functions the capture unit calls and what its version
// text tells about it.
#pragma once

#include "capture/wpcap/wpcap_abi.h"

namespace pkdv::wpcap {

struct Library {
  pcap_open_fn open;
  pcap_close_fn close;
  pcap_next_ex_fn next_ex;
  pcap_sendpacket_fn sendpacket;
  pcap_setfilter_fn setfilter;
  pcap_findalldevs_ex_fn findalldevs_ex;
  pcap_freealldevs_fn freealldevs;
  pcap_lib_version_fn lib_version;
  pcap_setnonblock_fn setnonblock;  // may be missing
  pcap_oid_request_fn oid_get;      // may be missing (only libpcap >= 1.8 builds have them)
  pcap_oid_request_fn oid_set;
  // Resolved only from WinPcap and Npcap: Wine's forwarder exports
  // pcap_getevent as a stub that ends the process when called.
  pcap_getevent_fn getevent;
  pcap_setmintocopy_fn setmintocopy;
  // WinPcap and Npcap end an empty poll after the read time-out; other
  // builds (a forwarder to a Unix libpcap) block until traffic comes.
  bool honours_read_timeout;
  // WinPcap 4.x: a capture handle's first word points to the driver's adapter
  // object, whose first word is the driver's device handle.
  bool has_adapter_object;
  // Wine's 32-bit forwarder to a Unix libpcap: frame headers may come shifted
  // (forwarder_header.h).
  bool may_shift_header;
};

// Loads the library on the first call (thread-safe; never call it from
// DllMain). nullptr when it cannot be loaded or lacks a function we need.
const Library* library();
// Why library() gave nullptr.
const char* load_failure();

// What a version text tells; exposed for the tests.
bool version_honours_read_timeout(const char* version);
bool version_has_adapter_object(const char* version);

}  // namespace pkdv::wpcap
