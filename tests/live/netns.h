// Live tests on a veth pair inside a network namespace the test makes itself.
//
// One test case, one fresh namespace:
//
//   TEST(LiveCapture, SomethingOnTheWire) {
//     PKDV_SKIP_UNLESS_ROOT();
//     pkdv::testing::run_in_private_network([](const pkdv::testing::VethPair& veth) {
//       // ... open "rpcap://" + veth.first, inject on veth.second, EXPECT_...
//     });
//   }
//
// run_in_private_network() forks; the child enters new network and mount
// namespaces, configures them with netns_run.sh --configure (pkdv0 <-> pkdv1
// up, no addresses, IPv6 off, /sys remounted), runs the body and exits. Every
// failed EXPECT/ASSERT in the body is printed by the child and fails the test
// in the parent; a crash or a hang (past `time_limit_seconds`) does too.
// GTEST_SKIP inside the body is not seen by the parent: skip before calling.
// Only the forking thread exists in the child, so code that needs threads
// started earlier (e.g. the shared library's poller, started at load) cannot
// run there; run such a test program whole under tests/live/netns_run.sh.
//
// The helpers below the runner are meant for use inside the body.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace pkdv::testing {

struct VethPair {
  std::string first = "pkdv0";
  std::string second = "pkdv1";
};

#define PKDV_SKIP_UNLESS_ROOT()                                                     \
  do {                                                                              \
    if (geteuid() != 0)                                                             \
      GTEST_SKIP() << "live test skipped: creating a network namespace needs root"; \
  } while (0)

void run_in_private_network(const std::function<void(const VethPair&)>& body,
                            unsigned time_limit_seconds = 60);

// Runs "ip ARGUMENTS" (e.g. "link set pkdv1 down"); fails the test when ip fails.
void ip(const std::string& arguments);

// The text of /sys/class/net/INTERFACE/ATTRIBUTE without its line end; empty
// when it cannot be read.
std::string sysfs_text(const std::string& interface, const std::string& attribute);
// The same, read as a number (hex with a 0x prefix, as "flags" is written).
std::uint64_t sysfs_number(const std::string& interface, const std::string& attribute);

// An Ethernet frame from 02:00:00:00:00:01 to the broadcast address with the
// given EtherType, `size` bytes long in all; payload byte i is `fill + i`.
std::vector<std::uint8_t> test_frame(std::uint16_t ether_type, std::size_t size,
                                     std::uint8_t fill = 0);

// Puts frames on the wire through an AF_PACKET socket bound to one interface.
class FrameInjector {
 public:
  explicit FrameInjector(const std::string& interface);
  ~FrameInjector();
  FrameInjector(const FrameInjector&) = delete;
  FrameInjector& operator=(const FrameInjector&) = delete;
  // True when the whole frame was handed to the kernel.
  bool send(const std::vector<std::uint8_t>& frame);

 private:
  int socket_;
};

}  // namespace pkdv::testing
