// Addresses, times, status names, frame lines, the run summary and NDIS answers as printed.
#include <gtest/gtest.h>

#include <array>
#include <memory>

#include "address_text.h"
#include "info_text.h"
#include "output.h"

namespace pkdv_capture {
namespace {

std::string ipv6(std::array<uint8_t, 16> address) {
  return ipv6_text(address);
}

TEST(AddressText, Ipv6UsesTheShortestForm) {
  EXPECT_EQ(ipv6({}), "::");
  EXPECT_EQ(ipv6({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}), "::1");
  EXPECT_EQ(ipv6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x10}), "2001:db8::10");
  EXPECT_EQ(ipv6({0xfe, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), "fe80::");
  // A single zero group is not shortened; the longest run is, the first of equal runs.
  EXPECT_EQ(ipv6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1}),
            "2001:db8:0:1:1:1:1:1");
  EXPECT_EQ(ipv6({0x20, 0x01, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1}), "2001:0:0:1::1");
  EXPECT_EQ(ipv6({0x20, 0x01, 0x0d, 0xb8, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 1}),
            "2001:db8::1:0:0:1");
  EXPECT_EQ(ipv6({0xab, 0xcd, 0, 0x12, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff}), "abcd:12::ffff");
}

TEST(AddressText, MacAndIpv4) {
  std::array<uint8_t, 6> mac{0x02, 0xab, 0, 0x10, 0xff, 1};
  EXPECT_EQ(mac_text(mac), "02:ab:00:10:ff:01");
  std::array<uint8_t, 4> ip{255, 0, 2, 10};
  EXPECT_EQ(ipv4_text(ip), "255.0.2.10");
}

TEST(TimeText, HundredNanosecondTicksToMicroseconds) {
  EXPECT_EQ(time_text(0, true), "1970-01-01 00:00:00.000000");
  EXPECT_EQ(time_text(10'000'050, true), "1970-01-01 00:00:01.000005");
  EXPECT_EQ(time_text(17'145'648'000'246'769, true), "2024-05-01 12:00:00.024676");  // 9 dropped
  EXPECT_EQ(time_text(17'091'647'999'999'990, true), "2024-02-28 23:59:59.999999");
  EXPECT_EQ(time_text(17'091'648'000'000'000, true), "2024-02-29 00:00:00.000000");
  EXPECT_EQ(time_text(-10, true), "1969-12-31 23:59:59.999999");
}

TEST(StatusName, NamedCodesAndOthers) {
  EXPECT_EQ(status_name(NDIS_STATUS_SUCCESS), "NDIS_STATUS_SUCCESS");
  EXPECT_EQ(status_name(NDIS_STATUS_FAILURE), "NDIS_STATUS_FAILURE");
  EXPECT_EQ(status_name(NDIS_STATUS_INVALID_LENGTH), "NDIS_STATUS_INVALID_LENGTH");
  EXPECT_EQ(status_name(NDIS_STATUS_ADAPTER_NOT_READY), "NDIS_STATUS_ADAPTER_NOT_READY");
  EXPECT_EQ(status_name(NDIS_STATUS_INVALID_DATA), "NDIS_STATUS_INVALID_DATA");
  EXPECT_EQ(status_name(ERROR_NOT_SUPPORTED), "ERROR_NOT_SUPPORTED");
  EXPECT_EQ(status_name(0xC0000123u), "0xC0000123");
}

// A PacketBuffer with a data area of `capacity` bytes, as the client allocates it.
struct Buffer {
  explicit Buffer(uint32_t capacity)
      : storage(new uint8_t[PKDV_PACKET_BUFFER_HEADER_SIZE + capacity]()) {
    get().capacity = capacity;
  }
  PacketBuffer& get() { return *reinterpret_cast<PacketBuffer*>(storage.get()); }
  std::unique_ptr<uint8_t[]> storage;
};

TEST(FrameLine, SuccessCarriesTheSummary) {
  Buffer buffer(64);
  PacketBuffer& b = buffer.get();
  b.status = NDIS_STATUS_SUCCESS;
  b.sequence = 42;
  b.timestamp = 17'145'648'000'246'760;
  b.captured_length = b.wire_length = 20;
  uint8_t frame[20] = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 2, 0, 0, 0, 0, 1, 0x88, 0xb5};
  std::copy(std::begin(frame), std::end(frame), b.data);
  LineFormat format{.utc = true};
  EXPECT_EQ(frame_line(b, format),
            "    42 2024-05-01 12:00:00.024676    20/20    ethertype 0x88b5 len 6");
  format.link_header = format.verbose = true;
  EXPECT_EQ(frame_line(b, format),
            "    42 2024-05-01 12:00:00.024676    20/20    NDIS_STATUS_SUCCESS "
            "02:00:00:00:00:01 > ff:ff:ff:ff:ff:ff, ethertype 0x88b5 len 6");
  format.link_type = 147;
  EXPECT_EQ(frame_line(b, format),
            "    42 2024-05-01 12:00:00.024676    20/20    NDIS_STATUS_SUCCESS link type 147, "
            "length 20");
}

TEST(HexDump, SixteenBytesALineWithOrWithoutText) {
  const uint8_t bytes[18] = {'p', 'k', 'd', 'v', 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x7f, 'A'};
  EXPECT_EQ(hex_dump(bytes, false),
            "\t0x0000:  706b 6476 0001 0203 0405 0607 0809 0a0b\n"
            "\t0x0010:  7f41\n");
  EXPECT_EQ(hex_dump(bytes, true),
            "\t0x0000:  706b 6476 0001 0203 0405 0607 0809 0a0b  pkdv............\n"
            "\t0x0010:  7f41                                     .A\n");
}

TEST(FrameLine, OtherStatusesHaveNoSummary) {
  Buffer buffer(16);
  PacketBuffer& b = buffer.get();
  b.status = NDIS_STATUS_INVALID_LENGTH;
  b.sequence = 7;
  b.captured_length = b.wire_length = 1514;  // larger than the data area, which holds nothing
  EXPECT_EQ(frame_line(b, {.utc = true}),
            "     7 1970-01-01 00:00:00.000000  1514/1514  NDIS_STATUS_INVALID_LENGTH");
}

TEST(FrameLine, FailureShowsNoStaleFields) {
  Buffer buffer(16);
  PacketBuffer& b = buffer.get();
  b.sequence = 9, b.timestamp = 10'000'000,
  b.captured_length = b.wire_length = 60;  // earlier frame
  b.status = NDIS_STATUS_FAILURE;
  EXPECT_EQ(frame_line(b, {}), "     - -                                    - NDIS_STATUS_FAILURE");
}

TEST(RunTally, CountsFramesBytesAndStatuses) {
  Buffer buffer(16);
  PacketBuffer& b = buffer.get();
  RunTally tally;
  b.status = NDIS_STATUS_SUCCESS, b.captured_length = 100;
  tally.add(b);
  tally.add(b);
  b.status = NDIS_STATUS_INVALID_LENGTH, b.captured_length = 2000;
  tally.add(b);
  b.status = NDIS_STATUS_FAILURE, b.captured_length = 12345;  // stale: not written on failure
  tally.add(b);
  EXPECT_EQ(tally.frames, 3u);
  EXPECT_EQ(tally.bytes, 2200u);
  EXPECT_EQ(summary_text(tally, 2.0, std::nullopt),
            "2200 bytes in 2.000 s (1.5 packets/s)\n"
            "1 reads NDIS_STATUS_FAILURE\n"
            "1 reads NDIS_STATUS_INVALID_LENGTH\n"
            "3 packets captured\n");
  // A live capture ends as tcpdump's does; received by filter is captured and dropped.
  EXPECT_EQ(summary_text(tally, 2.0, LiveCounts{0, 1024, 1}),
            "2200 bytes in 2.000 s (1.5 packets/s)\n"
            "1 reads NDIS_STATUS_FAILURE\n"
            "1 reads NDIS_STATUS_INVALID_LENGTH\n"
            "3 packets captured\n4 packets received by filter\n1 packet dropped by kernel\n");
  EXPECT_EQ(summary_text(RunTally{}, 1.0, LiveCounts{3, 8192, std::nullopt}),
            "0 bytes in 1.000 s (0.0 packets/s)\n"
            "reads ran out 3 times (8192 reads at the end)\n"
            "0 packets captured\n");
}

TEST(OidAnswer, EachQueryIsDecoded) {
  auto answer = [](uint32_t oid, std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> data(bytes);
    return describe_oid_answer(oid, data);
  };
  EXPECT_EQ(answer(kOidCurrentAddress, {2, 0, 0, 0, 0, 0xfe}), "02:00:00:00:00:fe");
  EXPECT_EQ(answer(kOidMaximumFrameSize, {0xdc, 0x05, 0, 0}), "1500 bytes");
  EXPECT_EQ(answer(kOidLinkSpeed, {0x80, 0x96, 0x98, 0}), "1000 Mbit/s");  // 10,000,000 x 100
  EXPECT_EQ(answer(kOidLinkSpeed, {0x0f, 0, 0, 0}), "1500 bit/s");
  EXPECT_EQ(answer(kOidMediaConnectStatus, {0, 0, 0, 0}), "connected");
  EXPECT_EQ(answer(kOidMediaConnectStatus, {1, 0, 0, 0}), "disconnected");
  EXPECT_EQ(answer(kOidCurrentPacketFilter, {0x0b, 0, 0, 0}),
            "0x0000000B (directed, multicast, broadcast)");
  EXPECT_EQ(answer(kOidCurrentPacketFilter, {0, 0, 0, 0}), "0x00000000");
  EXPECT_EQ(answer(kOidMaximumFrameSize, {1, 2}), "2 bytes of data");
}

}  // namespace
}  // namespace pkdv_capture
