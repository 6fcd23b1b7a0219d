// The Linux stand-in for the capture driver's OID handling, checked against
// what the kernel reports (sysfs, ip) for a veth pair in a private namespace.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "netns.h"
#include "capture/capture.h"
#include "capture/libpcap/ndis_driver.h"
#include "platform/platform.h"

namespace pkdv::capture {
namespace {

using pkdv::testing::ip;
using pkdv::testing::run_in_private_network;
using pkdv::testing::sysfs_number;
using pkdv::testing::sysfs_text;
using pkdv::testing::VethPair;

constexpr std::uint32_t kIffPromisc = 0x100;
constexpr std::uint32_t kIffAllmulti = 0x200;

struct Reply {
  bool ok;
  std::uint32_t error;     // last error when !ok
  std::uint32_t returned;  // bytes of OID data
  std::vector<std::uint8_t> data;
};

// Builds the buffer as NDIS requests do (data length + 12 bytes, handed over
// as data length + 11) and hands it to the driver.
Reply request(Driver* driver, std::uint32_t code, std::uint32_t requested_oid,
              std::vector<std::uint8_t> data) {
  auto length = static_cast<std::uint32_t>(data.size());
  std::vector<std::uint8_t> buffer(length + 12);
  std::memcpy(&buffer[0], &requested_oid, 4);
  std::memcpy(&buffer[4], &length, 4);
  std::copy(data.begin(), data.end(), buffer.begin() + 8);
  sys::set_last_error(0);
  std::uint32_t returned = 0xDEADBEEF;
  bool ok = driver->control(code, buffer.data(), length + 11, nullptr, &returned);
  Reply reply{ok, ok ? 0 : sys::last_error(), returned, {}};
  if (ok && returned <= length) {
    reply.data.assign(buffer.begin() + 8, buffer.begin() + 8 + returned);
  }
  return reply;
}

Reply query(Driver* driver, std::uint32_t requested_oid, std::size_t capacity = 256) {
  return request(driver, kControlQueryOid, requested_oid,
                 std::vector<std::uint8_t>(capacity, 0xEE));
}

Reply set_u32(Driver* driver, std::uint32_t requested_oid, std::uint32_t value) {
  std::vector<std::uint8_t> data(4);
  std::memcpy(data.data(), &value, 4);
  return request(driver, kControlSetOid, requested_oid, data);
}

std::uint64_t number(const Reply& reply) {
  std::uint64_t value = 0;
  EXPECT_TRUE(reply.ok) << "last error " << reply.error;
  EXPECT_TRUE(reply.returned == 4 || reply.returned == 8) << reply.returned;
  std::memcpy(&value, reply.data.data(), std::min<std::size_t>(reply.data.size(), 8));
  return value;
}

std::uint64_t query_number(Driver* driver, std::uint32_t requested_oid, std::size_t capacity = 4) {
  return number(query(driver, requested_oid, capacity));
}

std::string mac_text(const std::vector<std::uint8_t>& bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) {
    char part[4];
    std::snprintf(part, sizeof part, "%s%02x", text.empty() ? "" : ":", byte);
    text += part;
  }
  return text;
}

// An open adapter and its driver, closed at the end of the scope.
class OpenAdapter {
 public:
  explicit OpenAdapter(const std::string& interface) {
    char error[kErrorBufferSize] = {};
    handle_ = open(("rpcap://" + interface).c_str(), 65536, 0, 1, error);
    EXPECT_NE(handle_, nullptr) << error;
    driver_ = handle_ ? capture::driver(handle_) : nullptr;
    EXPECT_NE(driver_, nullptr);
  }
  ~OpenAdapter() { close_now(); }
  OpenAdapter(const OpenAdapter&) = delete;
  OpenAdapter& operator=(const OpenAdapter&) = delete;

  bool ready() const { return driver_ != nullptr; }
  Driver* driver() const { return driver_; }
  Handle* handle() const { return handle_; }
  void close_now() {
    if (handle_ != nullptr) close(handle_);
    handle_ = nullptr;
    driver_ = nullptr;
  }

 private:
  Handle* handle_ = nullptr;
  Driver* driver_ = nullptr;
};

TEST(LinuxDriver, AnswersWhatTheKernelSays) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    ip("link set " + veth.first + " mtu 1400");
    OpenAdapter adapter(veth.first);
    ASSERT_TRUE(adapter.ready());
    Driver* driver = adapter.driver();

    const std::string address = sysfs_text(veth.first, "address");
    Reply current = query(driver, oid::k8023CurrentAddress, 6);
    ASSERT_TRUE(current.ok) << current.error;
    EXPECT_EQ(current.returned, 6u);
    EXPECT_EQ(mac_text(current.data), address);
    // veth has no burned-in address: the current one stands for it.
    EXPECT_EQ(mac_text(query(driver, oid::k8023PermanentAddress, 6).data), address);

    EXPECT_EQ(query_number(driver, oid::kGenMaximumFrameSize), 1400u);
    EXPECT_EQ(query_number(driver, oid::kGenMaximumTotalSize), 1414u);
    EXPECT_EQ(query_number(driver, oid::kGenLinkSpeed), sysfs_number(veth.first, "speed") * 10000);
    EXPECT_EQ(query_number(driver, oid::kGenMediaSupported), 0u) << "802.3";
    EXPECT_EQ(query_number(driver, oid::kGenMediaInUse), 0u) << "802.3";
    EXPECT_EQ(query_number(driver, oid::k8023MaximumListSize), kMulticastListSize);

    Reply vendor = query(driver, oid::kGenVendorDescription);
    ASSERT_TRUE(vendor.ok);
    EXPECT_EQ(vendor.returned, 5u);
    EXPECT_STREQ(reinterpret_cast<const char*>(vendor.data.data()), "veth");
  });
}

// The media queries follow the capture handle's link type; one that no NDIS
// medium describes is refused rather than called 802.3.
TEST(LinuxDriver, MediaFollowTheLinkType) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    ip("tuntap add mode tun name pkdvtun0");
    ip("link set pkdvtun0 up");
    struct Case {
      std::string interface;
      int link_type;
      std::optional<std::uint32_t> medium;
    };
    for (const Case& c : {Case{veth.first, DLT_EN10MB, medium::k8023},
                          Case{"pkdvtun0", DLT_RAW, medium::kIp}, Case{"any", DLT_LINUX_SLL, {}}}) {
      OpenAdapter adapter(c.interface);
      ASSERT_TRUE(adapter.ready()) << c.interface;
      EXPECT_EQ(pcap_datalink(reinterpret_cast<pcap_t*>(adapter.handle())), c.link_type);
      for (std::uint32_t media : {oid::kGenMediaInUse, oid::kGenMediaSupported}) {
        Reply reply = query(adapter.driver(), media);
        if (c.medium) {
          ASSERT_TRUE(reply.ok) << c.interface;
          EXPECT_EQ(reply.data, (std::vector<std::uint8_t>{std::uint8_t(*c.medium), 0, 0, 0}));
        } else {
          EXPECT_FALSE(reply.ok) << c.interface;
          EXPECT_EQ(reply.error, sys::kErrorNotSupported);
        }
      }
    }
  });
}

// Opening a live adapter that cannot be captured on says why.
TEST(LinuxDriver, RefusedAdaptersSayWhy) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    char error[kErrorBufferSize] = {};
    ip("link set " + veth.second + " down");
    sys::set_last_error(0);
    EXPECT_EQ(open(("rpcap://" + veth.second).c_str(), 65536, 0, 1, error), nullptr);
    EXPECT_EQ(sys::last_error(), sys::kErrorNotReady) << error;

    // Without CAP_NET_RAW (as "nobody"): access denied.
    pid_t child = fork();
    if (child == 0) {
      if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0) _exit(100);
      Handle* handle = open(("rpcap://" + veth.first).c_str(), 65536, 0, 1, error);
      _exit(handle == nullptr ? static_cast<int>(sys::last_error()) : 101);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(static_cast<std::uint32_t>(WEXITSTATUS(status)), sys::kErrorAccessDenied);
  });
}

TEST(LinuxDriver, EverySupportedOidAnswersAQuery) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    OpenAdapter adapter(veth.first);
    ASSERT_TRUE(adapter.ready());
    Reply list = query(adapter.driver(), oid::kGenSupportedList);
    ASSERT_TRUE(list.ok);
    // At least the 16 OIDs of the README's table, 4 bytes each.
    ASSERT_GE(list.returned, 16u * 4);
    ASSERT_EQ(list.returned % 4, 0u);
    for (std::size_t i = 0; i < list.returned; i += 4) {
      std::uint32_t listed;
      std::memcpy(&listed, &list.data[i], 4);
      Reply reply = query(adapter.driver(), listed);
      EXPECT_TRUE(reply.ok) << std::hex << listed << " failed with " << std::dec << reply.error;
      EXPECT_EQ(reply.data.size(), reply.returned) << std::hex << listed;
    }
  });
}

TEST(LinuxDriver, ConnectStatusFollowsTheCarrier) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    OpenAdapter adapter(veth.first);
    ASSERT_TRUE(adapter.ready());
    EXPECT_EQ(sysfs_text(veth.first, "carrier"), "1");
    EXPECT_EQ(query_number(adapter.driver(), oid::kGenMediaConnectStatus), 0u) << "connected";

    ip("link set " + veth.second + " down");
    EXPECT_EQ(sysfs_text(veth.first, "carrier"), "0");
    EXPECT_EQ(query_number(adapter.driver(), oid::kGenMediaConnectStatus), 1u) << "disconnected";

    ip("link set " + veth.second + " up");
    EXPECT_EQ(sysfs_text(veth.first, "carrier"), "1");
    EXPECT_EQ(query_number(adapter.driver(), oid::kGenMediaConnectStatus), 0u);

    ip("link set " + veth.first + " down");
    EXPECT_EQ(query_number(adapter.driver(), oid::kGenMediaConnectStatus), 1u)
        << "an interface that is down is not connected";
  });
}

TEST(LinuxDriver, PacketCountersRiseWithFramesSent) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    OpenAdapter sender(veth.first);
    OpenAdapter receiver(veth.second);
    ASSERT_TRUE(sender.ready() && receiver.ready());
    const std::uint64_t sent_before = query_number(sender.driver(), oid::kGenXmitOk, 8);
    const std::uint64_t received_before = query_number(receiver.driver(), oid::kGenRcvOk, 8);
    EXPECT_EQ(sent_before, sysfs_number(veth.first, "statistics/tx_packets"));

    const auto frame = pkdv::testing::test_frame(0x88b5, 60);
    for (int i = 0; i < 3; ++i) {
      ASSERT_EQ(send_frame(sender.handle(), frame.data(), static_cast<int>(frame.size())), 0);
    }
    const std::uint64_t sent_after = query_number(sender.driver(), oid::kGenXmitOk, 8);
    const std::uint64_t received_after = query_number(receiver.driver(), oid::kGenRcvOk, 8);
    EXPECT_EQ(sent_after, sent_before + 3);
    EXPECT_EQ(sent_after, sysfs_number(veth.first, "statistics/tx_packets"));
    EXPECT_EQ(received_after, received_before + 3);
    EXPECT_EQ(received_after, sysfs_number(veth.second, "statistics/rx_packets"));

    Reply narrow = query(sender.driver(), oid::kGenXmitOk, 4);
    EXPECT_EQ(narrow.returned, 4u) << "a 4-byte buffer gets the 32-bit form";
    EXPECT_EQ(number(narrow), sent_after & 0xFFFFFFFFu);
  });
}

TEST(LinuxDriver, PromiscuousAndAllMulticastLastWhileTheHandleIsOpen) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    auto interface_flags = [&] { return sysfs_number(veth.first, "flags"); };
    OpenAdapter first(veth.first);
    OpenAdapter second(veth.first);
    ASSERT_TRUE(first.ready() && second.ready());
    using namespace packet_filter;
    const std::uint32_t usual = kDirected | kMulticast | kBroadcast;
    EXPECT_EQ(query_number(first.driver(), oid::kGenCurrentPacketFilter), usual);
    EXPECT_EQ(interface_flags() & (kIffPromisc | kIffAllmulti), 0u);

    Reply set = set_u32(first.driver(), oid::kGenCurrentPacketFilter, usual | kPromiscuous);
    ASSERT_TRUE(set.ok) << set.error;
    EXPECT_EQ(set.returned, 0u) << "a set returns no data";
    EXPECT_EQ(query_number(first.driver(), oid::kGenCurrentPacketFilter), usual | kPromiscuous);
    EXPECT_EQ(query_number(second.driver(), oid::kGenCurrentPacketFilter), usual)
        << "each handle has its own filter";
    EXPECT_NE(interface_flags() & kIffPromisc, 0u);

    ASSERT_TRUE(set_u32(first.driver(), oid::kGenCurrentPacketFilter, kAllMulticast).ok);
    EXPECT_EQ(interface_flags() & (kIffPromisc | kIffAllmulti), kIffAllmulti);
    ASSERT_TRUE(set_u32(first.driver(), oid::kGenCurrentPacketFilter, usual).ok);
    EXPECT_EQ(interface_flags() & (kIffPromisc | kIffAllmulti), 0u);

    ASSERT_TRUE(
        set_u32(first.driver(), oid::kGenCurrentPacketFilter, kPromiscuous | kAllMulticast).ok);
    ASSERT_TRUE(set_u32(second.driver(), oid::kGenCurrentPacketFilter, kPromiscuous).ok);
    first.close_now();
    EXPECT_EQ(interface_flags() & (kIffPromisc | kIffAllmulti), kIffPromisc)
        << "the other handle still wants promiscuous mode";
    second.close_now();
    EXPECT_EQ(interface_flags() & (kIffPromisc | kIffAllmulti), 0u) << "closing undoes it";
  });
}

TEST(LinuxDriver, MulticastListFollowsTheInterface) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    OpenAdapter adapter(veth.first);
    ASSERT_TRUE(adapter.ready());
    const std::string group = "01:00:5e:7f:00:01";
    auto listed = [&] {
      Reply list = query(adapter.driver(), oid::k8023MulticastList);
      EXPECT_TRUE(list.ok);
      EXPECT_EQ(list.returned % 6, 0u);
      for (std::size_t i = 0; i + 6 <= list.data.size(); i += 6) {
        if (mac_text({list.data.begin() + i, list.data.begin() + i + 6}) == group) return true;
      }
      return false;
    };
    EXPECT_FALSE(listed());
    ip("maddress add " + group + " dev " + veth.first);
    EXPECT_TRUE(listed());
    ip("maddress del " + group + " dev " + veth.first);
    EXPECT_FALSE(listed());
  });
}

TEST(LinuxDriver, FailsBadRequestsAsADriverDoes) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    OpenAdapter adapter(veth.first);
    ASSERT_TRUE(adapter.ready());
    Driver* driver = adapter.driver();
    auto failure = [](const Reply& reply) {
      EXPECT_EQ(reply.returned, 0u);
      return reply.ok ? 0u : reply.error;
    };

    EXPECT_EQ(failure(query(driver, 0x00010999)), 50u) << "unknown OID";
    EXPECT_EQ(failure(query(driver, oid::k8023CurrentAddress, 5)), 122u) << "too small";
    EXPECT_EQ(failure(query(driver, oid::kGenSupportedList, 8)), 122u) << "too small";
    EXPECT_EQ(failure(query(driver, oid::kGenVendorDescription, 4)), 122u) << "no room for \\0";
    EXPECT_EQ(failure(query(driver, oid::kGenMaximumFrameSize, 0)), 122u);
    EXPECT_EQ(failure(set_u32(driver, oid::k8023CurrentAddress, 0)), 50u) << "query only";
    EXPECT_EQ(failure(set_u32(driver, oid::kGenCurrentPacketFilter, 0x1000)), 50u)
        << "unknown filter bit";
    EXPECT_EQ(failure(request(driver, kControlSetOid, oid::kGenCurrentPacketFilter, {0x20, 0})),
              122u)
        << "two bytes are no filter";
    EXPECT_EQ(query_number(driver, oid::kGenCurrentPacketFilter), 0x0Bu) << "left unchanged";
    EXPECT_EQ(failure(request(driver, 0x80000008, oid::kGenMediaInUse, {0, 0, 0, 0})), 1u)
        << "unknown control code";

    // A buffer whose header does not fit, or claims more data than was handed over.
    std::uint8_t header[12] = {};
    const std::uint32_t claimed = 8;
    std::memcpy(header + 4, &claimed, 4);
    std::uint32_t returned = 7;
    sys::set_last_error(0);
    EXPECT_FALSE(driver->control(kControlQueryOid, header, 7, nullptr, &returned));
    EXPECT_EQ(sys::last_error(), 87u);
    EXPECT_EQ(returned, 0u);
    EXPECT_FALSE(driver->control(kControlQueryOid, header, sizeof header, nullptr, &returned));
    EXPECT_EQ(sys::last_error(), 87u);
    EXPECT_FALSE(driver->control(kControlQueryOid, nullptr, 64, nullptr, &returned));
    EXPECT_EQ(sys::last_error(), 87u);

    returned = 7;
    EXPECT_FALSE(driver->overlapped_result(nullptr, &returned)) << "nothing is ever pending";
    EXPECT_EQ(returned, 0u);
    EXPECT_NE(driver->device_handle(), nullptr);
  });
}

}  // namespace
}  // namespace pkdv::capture
