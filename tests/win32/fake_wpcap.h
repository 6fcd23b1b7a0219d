// Test-only controls of the fake wpcap.dll (fake_wpcap.cpp), reached with
// GetProcAddress once the capture unit has loaded it. The fake's version text
// comes from the environment variable FAKE_WPCAP_VERSION, so one process
// plays one capture library.
#pragma once

#include <cstddef>
#include <cstdint>

namespace pkdv::testing::fake_wpcap {

struct OpenRecord {
  char source[260];
  int snapshot_length;
  int flags;
  int read_timeout_ms;
  int nonblocking;  // set by pcap_setnonblock
  int closed;
};

struct OidRecord {
  int calls;
  int was_set;  // 1 for pcap_oid_set_request
  std::uint32_t oid;
  std::size_t length_in;
};

// Exports of the fake (all cdecl, C names).
using OpenRecordFn = const OpenRecord* (*)(void* handle);
using DeviceHandleFn = void* (*)(void* handle);
using PushFrameFn = void (*)(void* handle, const std::uint8_t* data, std::uint32_t length);
// The next OID call: result 0 writes `answer` (answer_length bytes) and
// reports answer_length; non-zero fails with `error` as the last error.
using ScriptOidFn = void (*)(int result, std::uint32_t error, const std::uint8_t* answer,
                             std::size_t answer_length);
using LastOidFn = const OidRecord* (*)();
using ShiftHeadersFn = void (*)(int on);

}  // namespace pkdv::testing::fake_wpcap
