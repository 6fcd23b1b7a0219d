// The binary interface of wpcap.dll, declared here because the library is
// loaded at run time and no import library or header of it is used. Types
// follow the Windows build: `long` is 32 bits in both widths, so the frame
// header's time stamp is two 32-bit values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pkdv::wpcap {

struct pcap_t;  // opaque: its layout differs between capture libraries
struct pcap_addr;

struct pcap_if_t {
  pcap_if_t* next;
  char* name;
  char* description;
  pcap_addr* addresses;
  std::uint32_t flags;
};

struct timeval32 {
  std::int32_t tv_sec;
  std::int32_t tv_usec;
};

struct pcap_pkthdr {
  timeval32 ts;
  std::uint32_t caplen;
  std::uint32_t len;
};

struct bpf_insn;
struct bpf_program {
  unsigned int bf_len;
  bpf_insn* bf_insns;
};

struct pcap_rmtauth {
  int type;
  char* username;
  char* password;
};

// All exports of wpcap.dll use the C calling convention.
using pcap_open_fn = pcap_t*(__cdecl*)(const char* source, int snaplen, int flags, int read_timeout,
                                       pcap_rmtauth* auth, char* errbuf);
using pcap_close_fn = void(__cdecl*)(pcap_t*);
using pcap_next_ex_fn = int(__cdecl*)(pcap_t*, pcap_pkthdr**, const unsigned char**);
using pcap_sendpacket_fn = int(__cdecl*)(pcap_t*, const unsigned char*, int);
using pcap_setfilter_fn = int(__cdecl*)(pcap_t*, bpf_program*);
using pcap_setnonblock_fn = int(__cdecl*)(pcap_t*, int, char* errbuf);
using pcap_findalldevs_ex_fn = int(__cdecl*)(const char* source, pcap_rmtauth* auth,
                                             pcap_if_t** list, char* errbuf);
using pcap_freealldevs_fn = void(__cdecl*)(pcap_if_t*);
using pcap_lib_version_fn = const char*(__cdecl*)();
using pcap_geterr_fn = char*(__cdecl*)(pcap_t*);
// WinPcap and Npcap: the event signalled when a capture handle has data, and
// how much data that takes.
using pcap_getevent_fn = void*(__cdecl*)(pcap_t*);
using pcap_setmintocopy_fn = int(__cdecl*)(pcap_t*, int size);
// libpcap >= 1.8 on Windows (Npcap): OID requests through the library.
using pcap_oid_request_fn = int(__cdecl*)(pcap_t*, std::uint32_t oid, void* data,
                                          std::size_t* length);

}  // namespace pkdv::wpcap
