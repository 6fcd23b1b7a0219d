#include "frame_summary.h"

#include <gtest/gtest.h>

#include <memory>

#include "frame_builder.h"

namespace pkdv_capture {
namespace {

using testing::FrameBuilder;

constexpr char kMacs[] = "02:00:00:00:00:01 > 02:00:00:00:00:02";

std::string ethernet(std::span<const uint8_t> frame) {
  return summarize_frame(kLinkTypeEthernet, frame, {.link_header = true});
}

std::vector<uint8_t> tcp_frame(uint8_t flags, uint16_t payload) {
  return FrameBuilder()
      .ethernet(0x0800)
      .ipv4(6, 20 + payload)
      .be16(51000)
      .be16(80)
      .zeros(8)
      .bytes({0x50, flags})
      .zeros(6)
      .zeros(payload)
      .build();
}

std::vector<uint8_t> arp_frame(uint16_t operation) {
  return FrameBuilder()
      .ethernet(0x0806)
      .be16(1)
      .be16(0x0800)
      .bytes({6, 4})
      .be16(operation)
      .bytes({2, 0, 0, 0, 0, 1, 192, 0, 2, 10})
      .zeros(6)
      .bytes({192, 0, 2, 20})
      .build();
}

TEST(FrameSummary, Ipv4Transports) {
  std::string ip = std::string(kMacs) + ", IPv4 192.0.2.10 > 192.0.2.20, ";
  EXPECT_EQ(ethernet(tcp_frame(0x02, 0)), ip + "TCP 51000 > 80 [SYN] len 0");
  EXPECT_EQ(ethernet(tcp_frame(0x18, 100)), ip + "TCP 51000 > 80 [PSH,ACK] len 100");
  EXPECT_EQ(ethernet(tcp_frame(0x00, 0)), ip + "TCP 51000 > 80 [none] len 0");
  auto udp = FrameBuilder()
                 .ethernet(0x0800)
                 .ipv4(17, 8 + 42)
                 .be16(40000)
                 .be16(7)
                 .be16(50)
                 .be16(0)
                 .zeros(42)
                 .build();
  EXPECT_EQ(ethernet(udp), ip + "UDP 40000 > 7 len 42");
  auto ping =
      FrameBuilder().ethernet(0x0800).ipv4(1, 8).bytes({8, 0}).be16(0).be16(0x4242).be16(3).build();
  EXPECT_EQ(ethernet(ping), ip + "ICMP echo request id 16962 seq 3");
  auto unreachable = FrameBuilder().ethernet(0x0800).ipv4(1, 8).bytes({3, 1}).zeros(6).build();
  EXPECT_EQ(ethernet(unreachable), ip + "ICMP destination unreachable");
  auto other = FrameBuilder().ethernet(0x0800).ipv4(132, 4).zeros(4).build();
  EXPECT_EQ(ethernet(other), ip + "protocol 132 len 4");
}

TEST(FrameSummary, Ipv4Fragments) {
  std::string ip = std::string(kMacs) + ", IPv4 192.0.2.10 > 192.0.2.20, ";
  auto first = FrameBuilder()
                   .ethernet(0x0800)
                   .ipv4(17, 1480, 0x2000)
                   .be16(7000)
                   .be16(7001)
                   .be16(2008)
                   .be16(0)
                   .zeros(1472)
                   .build();
  EXPECT_EQ(ethernet(first), ip + "UDP 7000 > 7001 len 1472 (first fragment)");
  auto later = FrameBuilder().ethernet(0x0800).ipv4(17, 528, 185).zeros(528).build();
  EXPECT_EQ(ethernet(later), ip + "fragment of protocol 17 offset 1480 len 528");
}

TEST(FrameSummary, Ipv6Transports) {
  std::string ip = std::string(kMacs) + ", IPv6 2001:db8::10 > 2001:db8::20, ";
  auto udp = FrameBuilder()
                 .ethernet(0x86DD)
                 .ipv6(17, 20)
                 .be16(40009)
                 .be16(9)
                 .be16(20)
                 .be16(0)
                 .zeros(12)
                 .build();
  EXPECT_EQ(ethernet(udp), ip + "UDP 40009 > 9 len 12");
  auto echo =
      FrameBuilder().ethernet(0x86DD).ipv6(58, 8).bytes({129, 0}).be16(0).be16(7).be16(1).build();
  EXPECT_EQ(ethernet(echo), ip + "ICMPv6 echo reply id 7 seq 1");
  auto solicitation =
      FrameBuilder().ethernet(0x86DD).ipv6(58, 24).bytes({135, 0}).zeros(22).build();
  EXPECT_EQ(ethernet(solicitation), ip + "ICMPv6 neighbor solicitation");
  auto unknown = FrameBuilder().ethernet(0x86DD).ipv6(58, 4).bytes({200, 3}).zeros(2).build();
  EXPECT_EQ(ethernet(unknown), ip + "ICMPv6 type 200 code 3");
}

TEST(FrameSummary, ArpAndVlanTags) {
  EXPECT_EQ(ethernet(arp_frame(1)),
            std::string(kMacs) + ", ARP who-has 192.0.2.20 tell 192.0.2.10");
  EXPECT_EQ(ethernet(arp_frame(2)),
            std::string(kMacs) + ", ARP reply 192.0.2.10 is-at 02:00:00:00:00:01");
  EXPECT_EQ(ethernet(arp_frame(9)), std::string(kMacs) + ", ARP operation 9");

  auto tagged =
      FrameBuilder().ethernet(0x88A8).be16(0x2064).be16(0x8100).be16(0x000A).be16(0x0806).build();
  auto arp = arp_frame(1);
  tagged.insert(tagged.end(), arp.begin() + 14, arp.end());
  EXPECT_EQ(ethernet(tagged), std::string(kMacs) +
                                  ", vlan 100, vlan 10, ARP who-has 192.0.2.20 tell "
                                  "192.0.2.10");
}

TEST(FrameSummary, OtherEtherTypesAnd8023Lengths) {
  auto experimental = FrameBuilder().ethernet(0x88B5).zeros(46).build();
  EXPECT_EQ(ethernet(experimental), std::string(kMacs) + ", ethertype 0x88b5 len 46");
  auto llc = FrameBuilder().ethernet(46).zeros(46).build();
  EXPECT_EQ(ethernet(llc), std::string(kMacs) + ", 802.3 length 46");
}

TEST(FrameSummary, BadIpv4HeaderLengthIsNamed) {
  auto frame = FrameBuilder().ethernet(0x0800).ipv4(6, 0).build();
  frame[14] = 0x42;  // 8-byte header
  EXPECT_EQ(ethernet(frame),
            std::string(kMacs) + ", IPv4 192.0.2.10 > 192.0.2.20, bad header length 8");
}

// Every cut of every kind of frame: the summary reads only what was captured (an exact-size
// heap copy lets the sanitizer lanes see any read past it) and says when a header is cut.
TEST(FrameSummary, EveryTruncationStaysInsideTheCapture) {
  std::vector<std::vector<uint8_t>> frames = {
      tcp_frame(0x12, 0), arp_frame(2),
      FrameBuilder().ethernet(0x86DD).ipv6(58, 8).bytes({128, 0}).be16(0).be16(7).be16(1).build(),
      FrameBuilder().ethernet(0x8100).be16(10).be16(0x0800).ipv4(17, 8).zeros(8).build(),
      FrameBuilder().ethernet(0x0800).ipv4(1, 8).bytes({8, 0}).zeros(6).build()};
  for (const auto& frame : frames) {
    for (size_t length = 0; length < frame.size(); ++length) {
      auto copy = std::make_unique<uint8_t[]>(length);
      std::copy_n(frame.begin(), length, copy.get());
      std::string text = ethernet({copy.get(), length});
      EXPECT_TRUE(text.ends_with("[truncated]")) << length << ": " << text;
    }
  }
}

// The same IPv4 UDP packet behind each link-level header decoded, with and without -e.
TEST(FrameSummary, EachLinkTypeFindsTheNetworkLayer) {
  auto packet = FrameBuilder().ipv4(17, 8).be16(53).be16(5353).zeros(4).build();
  auto with = [&](std::vector<uint8_t> header) {
    header.insert(header.end(), packet.begin(), packet.end());
    return header;
  };
  const std::string udp = "IPv4 192.0.2.10 > 192.0.2.20, UDP 53 > 5353 len 0";
  struct Case {
    int link_type;
    std::vector<uint8_t> frame;
    std::string link;  // what -e adds
  };
  const Case cases[] = {
      {kLinkTypeEthernet, with({2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1, 0x08, 0}), kMacs},
      {kLinkTypeRaw, packet, ""},
      {kLinkTypeIpv4, packet, ""},
      {kLinkTypeNull, with({2, 0, 0, 0}), "AF 2"},  // written little-endian
      {kLinkTypeNull, with({0, 0, 0, 2}), "AF 2"},  // written big-endian
      {kLinkTypeLoop, with({0, 0, 0, 2}), "AF 2"},
      {kLinkTypeLinuxSll, with({0, 4, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0, 0x08, 0}),
       "Out 02:00:00:00:00:01"},
      {kLinkTypeLinuxSll2, with({0x08, 0, 0, 0, 0, 0, 0, 3, 0, 1, 0, 6, 2, 0, 0, 0, 0, 1, 0, 0}),
       "ifindex 3 In 02:00:00:00:00:01"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(summarize_frame(c.link_type, c.frame, {}), udp) << c.link_type;
    EXPECT_EQ(summarize_frame(c.link_type, c.frame, {.link_header = true}),
              c.link.empty() ? udp : c.link + ", " + udp)
        << c.link_type;
    for (size_t length = 0; length < c.frame.size(); ++length) {
      auto copy = std::make_unique<uint8_t[]>(length);
      std::copy_n(c.frame.begin(), length, copy.get());
      std::string text = summarize_frame(c.link_type, {copy.get(), length}, {.link_header = true});
      EXPECT_TRUE(text.ends_with("[truncated]")) << c.link_type << " " << length << ": " << text;
    }
  }
  auto ipv6 = FrameBuilder().ipv6(59, 0).build();
  EXPECT_EQ(summarize_frame(kLinkTypeRaw, ipv6, {}),
            "IPv6 2001:db8::10 > 2001:db8::20, protocol 59 len 0");
  EXPECT_EQ(summarize_frame(kLinkTypeLoop, with({0, 0, 0, 99}), {}), "address family 99 len 28");
  EXPECT_EQ(summarize_frame(147, packet, {.link_header = true}), "link type 147, length 28");
  EXPECT_EQ(link_type_name(kLinkTypeLinuxSll2), "LINUX_SLL2 (Linux cooked v2)");
  EXPECT_EQ(link_type_name(147), "147");
}

}  // namespace
}  // namespace pkdv_capture
