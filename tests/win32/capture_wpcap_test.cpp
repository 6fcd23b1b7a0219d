// The Windows capture unit against the fake wpcap.dll, one capture library per
// process: the ctest entries set FAKE_WPCAP_VERSION (and the DLL overrides)
// and pick the matching suite with --gtest_filter.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "fake_wpcap.h"
#include "capture/capture.h"
#include "capture/wpcap/forwarder_header.h"
#include "capture/wpcap/wpcap_library.h"

namespace pkdv::capture {
namespace {

namespace fake = pkdv::testing::fake_wpcap;

constexpr std::uint32_t kQueryOid = 0x80000004u;
constexpr std::uint32_t kSetOid = 0x80000000u;

template <typename Function>
Function fake_export(const char* name) {
  HMODULE module = GetModuleHandleA("wpcap.dll");
  EXPECT_NE(module, nullptr) << "the fake wpcap.dll is not loaded";
  return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const fake::OpenRecord* record_of(Handle* handle) {
  return fake_export<fake::OpenRecordFn>("fake_open_record")(handle);
}

Handle* open_ok(const char* source) {
  char error[kErrorBufferSize] = {};
  Handle* handle = open(source, 65536, 0, 1, error);
  EXPECT_NE(handle, nullptr) << error;
  return handle;
}

// A PACKET_OID_DATA buffer as NDIS requests build it: OID, length, data,
// handed over with a size of length + 11.
struct OidBuffer {
  explicit OidBuffer(std::uint32_t oid, std::uint32_t length) : bytes(length + 12, 0xEE) {
    std::memcpy(bytes.data(), &oid, 4);
    std::memcpy(bytes.data() + 4, &length, 4);
    size = length + 11;
  }
  std::vector<std::uint8_t> bytes;
  std::uint32_t size;
};

void script_oid(int result, std::uint32_t error, std::vector<std::uint8_t> answer = {}) {
  fake_export<fake::ScriptOidFn>("fake_script_oid")(result, error, answer.data(), answer.size());
}

TEST(WpcapVersionText, TellsTimeOutHonouringAndHandleLayout) {
  struct Case {
    const char* text;
    bool honours;
    bool adapter_object;
  } cases[] = {
      {"WinPcap version 4.1.3 (packet.dll version 4.1.0.2980), based on libpcap version 1.0", true,
       true},
      {"WinPcap version 3.1", true, false},
      {"Npcap version 1.79, based on libpcap version 1.10.4", true, false},
      {"libpcap version 1.10.3 (with TPACKET_V3)", false, false},
      {"", false, false},
      {nullptr, false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(wpcap::version_honours_read_timeout(c.text), c.honours) << (c.text ? c.text : "null");
    EXPECT_EQ(wpcap::version_has_adapter_object(c.text), c.adapter_object)
        << (c.text ? c.text : "null");
  }
}

TEST(ForwarderHeader, OnlyWinesThirtyTwoBitForwarderIsSuspectAndOnlyItsShiftIsRead) {
  const char* libpcap = "libpcap version 1.10.3 (with TPACKET_V3)";
  EXPECT_EQ(wpcap::may_shift_header(true, libpcap), sizeof(void*) == 4);
  EXPECT_FALSE(wpcap::may_shift_header(false, libpcap));
  EXPECT_FALSE(
      wpcap::may_shift_header(true, "Npcap version 1.79, based on libpcap version 1.10.4"));
  EXPECT_FALSE(wpcap::may_shift_header(true, nullptr));

  // Polled a quarter of a second into the frame's second.
  constexpr std::int64_t kPoll = 0x6B17CA28ll * 1000000 + 250000;
  struct Case {
    wpcap::pcap_pkthdr in;
    FrameHeader out;
  } cases[] = {
      // Measured from Wine 8.0's 32-bit forwarder with 60-, 59- and 58-byte frames.
      {{{0x6B17CA28, 60}, 0x7FF22F90, 0x7FF20AD0}, {0x6B17CA28, 250000, 60, 60}},
      {{{0x6B17CA28, 59}, 0x7FF22F90, 0x7FF20AD0}, {0x6B17CA28, 250000, 59, 59}},
      {{{0x6B17CA28, 58}, 0x7FF22F90, 0x7FF20AD0}, {0x6B17CA28, 250000, 58, 58}},
      // A consistent header is taken as it is (a forwarder that fixed its layout).
      {{{0x6B17CA28, 999999}, 60, 1514}, {0x6B17CA28, 999999, 60, 1514}},
      {{{7, 60}, 60, 60}, {7, 60, 60, 60}},
      // Genuine but inconsistent: its last words can be lengths, so it is never re-read
      // (re-read, the first would claim 5000 bytes of a 100-byte frame).
      {{{7, 5000}, 100, 60}, {7, 5000, 100, 60}},
      {{{7, 1234}, 0, 60}, {7, 1234, 0, 60}},
      {{{7, 200000}, 65536, 300000}, {7, 200000, 65536, 300000}},
      // Neither layout: passed on for the reader to refuse.
      {{{7, 0}, 0x7FF22F90, 0x7FF20AD0}, {7, 0, 0x7FF22F90, 0x7FF20AD0}},
      {{{7, 262145}, 0x7FF22F90, 0x7FF20AD0}, {7, 262145, 0x7FF22F90, 0x7FF20AD0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in.ts.tv_usec);
    const FrameHeader got = wpcap::read_forwarder_header(c.in, kPoll);
    EXPECT_EQ(got.seconds, c.out.seconds);
    EXPECT_EQ(got.microseconds, c.out.microseconds);
    EXPECT_EQ(got.captured_length, c.out.captured_length);
    EXPECT_EQ(got.wire_length, c.out.wire_length);
  }
}

TEST(ForwarderHeader, LostMicrosecondsAreThePollTimeHeldWithinTheFramesSecond) {
  constexpr std::int64_t kSecond = 1000000;
  EXPECT_EQ(wpcap::microseconds_at_poll(1000, 1000 * kSecond + 4321), 4321);
  EXPECT_EQ(wpcap::microseconds_at_poll(1000, 1001 * kSecond + 2), 999999);
  EXPECT_EQ(wpcap::microseconds_at_poll(1000, 999 * kSecond), 0);
  EXPECT_EQ(wpcap::microseconds_at_poll(0x7FFFFFFF, 0x7FFFFFFFll * kSecond + 7), 7);
}

// The frame a library with shifted headers delivers, as the capture unit reports it.
FrameHeader shifted_frame(const char* source, std::vector<std::uint8_t>* bytes) {
  Handle* handle = open_ok(source);
  fake_export<fake::ShiftHeadersFn>("fake_shift_headers")(1);
  const std::vector<std::uint8_t> frame(60, 0x5C);
  fake_export<fake::PushFrameFn>("fake_push_frame")(handle, frame.data(), 60);
  FrameHeader header{};
  const std::uint8_t* data = nullptr;
  EXPECT_EQ(next_frame(handle, &header, &data), 1);
  if (data) bytes->assign(data, data + 60);
  fake_export<fake::ShiftHeadersFn>("fake_shift_headers")(0);
  close(handle);
  return header;
}

// --- WinPcap 4.x ---

TEST(WinPcapLibrary, HeadersAreNeverReadAsShifted) {
  std::vector<std::uint8_t> bytes;
  EXPECT_EQ(shifted_frame("rpcap://fake0", &bytes).captured_length, 0x7FF22F90u);
}

TEST(WinPcapLibrary, OpensWithTheArgumentsAndKeepsTheReadTimeOut) {
  Handle* handle = open_ok("rpcap://fake0");
  const fake::OpenRecord* r = record_of(handle);
  EXPECT_STREQ(r->source, "rpcap://fake0");
  EXPECT_EQ(r->snapshot_length, 65536);
  EXPECT_EQ(r->flags, 0);
  EXPECT_EQ(r->read_timeout_ms, 1);
  EXPECT_EQ(r->nonblocking, 0) << "WinPcap honours the read time-out";
  EXPECT_STREQ(adapter_name(handle), "rpcap://fake0");
  close(handle);
  EXPECT_EQ(r->closed, 1);
  EXPECT_EQ(adapter_name(handle), nullptr);
}

TEST(WinPcapLibrary, ReachesTheDriverThroughTheAdapterObject) {
  Handle* handle = open_ok("rpcap://fake0");
  Driver* d = driver(handle);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->device_handle(), fake_export<fake::DeviceHandleFn>("fake_device_handle")(handle));
  // The fake's device is an event: the control call reaches it and fails at once.
  OidBuffer buffer(0x00010106, 4);
  OVERLAPPED overlapped{};
  std::uint32_t returned = 99;
  EXPECT_FALSE(d->control(kQueryOid, buffer.bytes.data(), buffer.size, &overlapped, &returned));
  EXPECT_NE(GetLastError(), 997u);
  EXPECT_EQ(returned, 0u);
  close(handle);
}

TEST(WinPcapLibrary, ASourceWithoutAdapterObjectHasNoDriver) {
  Handle* handle = open_ok("file://capture.pcap");
  EXPECT_EQ(driver(handle), nullptr);
  close(handle);
}

// --- Npcap ---

TEST(NpcapLibrary, QueryReportsTheBytesTheDriverReturned) {
  Handle* handle = open_ok("rpcap://fake0");
  Driver* d = driver(handle);
  ASSERT_NE(d, nullptr);
  script_oid(0, 0, {1, 2, 3, 4, 5, 6});
  OidBuffer buffer(0x01010102, 10);
  std::uint32_t returned = 0;
  ASSERT_TRUE(d->control(kQueryOid, buffer.bytes.data(), buffer.size, nullptr, &returned));
  EXPECT_EQ(returned, 6u);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer.bytes.begin() + 8, buffer.bytes.begin() + 14),
            (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
  const fake::OidRecord* last = fake_export<fake::LastOidFn>("fake_last_oid")();
  EXPECT_EQ(last->was_set, 0);
  EXPECT_EQ(last->oid, 0x01010102u);
  EXPECT_EQ(last->length_in, 10u);
  close(handle);
}

TEST(NpcapLibrary, ReturnedBytesNeverExceedTheBuffer) {
  Handle* handle = open_ok("rpcap://fake0");
  script_oid(0, 0, std::vector<std::uint8_t>(64, 7));
  OidBuffer buffer(0x00010101, 2);  // room for 2 + 3 bytes
  std::uint32_t returned = 0;
  ASSERT_TRUE(
      driver(handle)->control(kQueryOid, buffer.bytes.data(), buffer.size, nullptr, &returned));
  EXPECT_LE(returned, buffer.size - 8);
  EXPECT_EQ(buffer.bytes.back(), 0xEE) << "wrote past the size handed over";
  close(handle);
}

TEST(NpcapLibrary, SetSucceedsWithoutData) {
  Handle* handle = open_ok("rpcap://fake0");
  script_oid(0, 0, {9, 9, 9, 9});
  OidBuffer buffer(0x0001010E, 4);
  std::uint32_t returned = 99;
  ASSERT_TRUE(
      driver(handle)->control(kSetOid, buffer.bytes.data(), buffer.size, nullptr, &returned));
  EXPECT_EQ(returned, 0u);
  EXPECT_EQ(fake_export<fake::LastOidFn>("fake_last_oid")()->was_set, 1);
  close(handle);
}

TEST(NpcapLibrary, FailureIsImmediateWithTheDriversErrorNeverPending) {
  Handle* handle = open_ok("rpcap://fake0");
  Driver* d = driver(handle);
  OidBuffer buffer(0x00010107, 4);
  std::uint32_t returned = 0;
  script_oid(-1, 5);  // ERROR_ACCESS_DENIED
  EXPECT_FALSE(d->control(kQueryOid, buffer.bytes.data(), buffer.size, nullptr, &returned));
  EXPECT_EQ(GetLastError(), 5u);
  for (std::uint32_t unusable : {0u, 997u}) {
    script_oid(-1, unusable);
    EXPECT_FALSE(d->control(kSetOid, buffer.bytes.data(), buffer.size, nullptr, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_GEN_FAILURE)) << unusable;
  }
  EXPECT_FALSE(d->control(0x1234, buffer.bytes.data(), buffer.size, nullptr, &returned));
  close(handle);
}

// --- A libpcap build that ignores the read time-out (Wine's forwarder) ---

// Switched to non-blocking, so that a poll with no frame returns at once.
TEST(PlainLibpcap, PassesFramesAndTheirWindowsHeaderWithoutBlocking) {
  Handle* handle = open_ok("rpcap://fake0");
  EXPECT_EQ(record_of(handle)->nonblocking, 1);
  FrameHeader header{};
  const std::uint8_t* data = nullptr;
  EXPECT_EQ(next_frame(handle, &header, &data), 0);
  const std::uint8_t frame[] = {0xAA, 0xBB, 0xCC};
  fake_export<fake::PushFrameFn>("fake_push_frame")(handle, frame, sizeof frame);
  ASSERT_EQ(next_frame(handle, &header, &data), 1);
  EXPECT_EQ(header.seconds, 1);
  EXPECT_EQ(header.microseconds, 5);
  EXPECT_EQ(header.captured_length, 3u);
  EXPECT_EQ(header.wire_length, 3u);
  EXPECT_EQ(std::memcmp(data, frame, 3), 0);
  close(handle);
}

TEST(PlainLibpcap, ShiftedHeadersAreRecoveredOnlyInA32BitProcess) {
  std::vector<std::uint8_t> bytes;
  const FrameHeader header = shifted_frame("rpcap://fake0", &bytes);
  if (sizeof(void*) == 4) {
    EXPECT_EQ(header.seconds, 1);
    EXPECT_EQ(header.microseconds, 999999) << "polled long after the frame's second";
    EXPECT_EQ(header.captured_length, 60u);
    EXPECT_EQ(header.wire_length, 60u);
    EXPECT_EQ(bytes, std::vector<std::uint8_t>(60, 0x5C));
  } else {
    EXPECT_EQ(header.captured_length, 0x7FF22F90u);
  }
}

TEST(PlainLibpcap, ListsDevicesAndReportsOpenFailures) {
  char error[kErrorBufferSize] = {};
  Device* list = nullptr;
  ASSERT_EQ(find_all_devices("rpcap://", &list, error), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(device_name(list), "rpcap://fake0");
  EXPECT_STREQ(device_description(list), "fake adapter 0");
  const Device* second = device_next(list);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(device_description(second), nullptr);
  EXPECT_EQ(device_next(second), nullptr);
  free_all_devices(list);

  EXPECT_EQ(open("missing", 65536, 0, 1, error), nullptr);
  EXPECT_STREQ(error, "fake: no such adapter");
}

// --- No wpcap.dll at all ---

TEST(MissingLibrary, OpenAndEnumerationFailCleanly) {
  char error[kErrorBufferSize] = {};
  EXPECT_EQ(open("rpcap://fake0", 65536, 0, 1, error), nullptr);
  EXPECT_NE(std::string(error).find("wpcap.dll"), std::string::npos) << error;
  Device* list = reinterpret_cast<Device*>(1);
  error[0] = '\0';
  EXPECT_EQ(find_all_devices("rpcap://", &list, error), -1);
  EXPECT_NE(std::string(error).find("wpcap.dll"), std::string::npos) << error;
  free_all_devices(nullptr);
}

}  // namespace
}  // namespace pkdv::capture
