#include "netns.h"

#include <linux/if_packet.h>
#include <net/ethernet.h>
#include <net/if.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace pkdv::testing {
namespace {

[[noreturn]] void leave_child(bool failed) {
  std::fflush(nullptr);
  _exit(failed ? 1 : 0);
}

}  // namespace

void run_in_private_network(const std::function<void(const VethPair&)>& body,
                            unsigned time_limit_seconds) {
  std::fflush(nullptr);  // buffered output must not be printed twice
  pid_t child = fork();
  ASSERT_GE(child, 0) << "fork: " << std::strerror(errno);
  if (child == 0) {
    alarm(time_limit_seconds);
    if (unshare(CLONE_NEWNET | CLONE_NEWNS) != 0) {
      ADD_FAILURE() << "unshare(CLONE_NEWNET | CLONE_NEWNS): " << std::strerror(errno);
      leave_child(true);
    }
    std::string configure = std::string("sh ") + PKDV_NETNS_SCRIPT + " --configure";
    if (std::system(configure.c_str()) != 0) {
      ADD_FAILURE() << "could not configure the namespace: " << configure;
      leave_child(true);
    }
    body(VethPair{});
    leave_child(::testing::Test::HasFailure());
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFSIGNALED(status)) {
    ADD_FAILURE() << "the test body died of signal " << WTERMSIG(status)
                  << (WTERMSIG(status) == SIGALRM ? " (time limit)" : "");
  } else {
    int exit_code = WEXITSTATUS(status);
    EXPECT_EQ(exit_code, 0) << "the test body failed in its namespace (see above)";
  }
}

void ip(const std::string& arguments) {
  std::string command = "ip " + arguments;
  EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

std::string sysfs_text(const std::string& interface, const std::string& attribute) {
  std::ifstream file("/sys/class/net/" + interface + "/" + attribute);
  std::string text;
  std::getline(file, text);
  return text;
}

std::uint64_t sysfs_number(const std::string& interface, const std::string& attribute) {
  return std::strtoull(sysfs_text(interface, attribute).c_str(), nullptr, 0);
}

std::vector<std::uint8_t> test_frame(std::uint16_t ether_type, std::size_t size,
                                     std::uint8_t fill) {
  std::vector<std::uint8_t> frame(size < 14 ? 14 : size);
  for (int i = 0; i < 6; ++i) frame[i] = 0xff;
  const std::uint8_t source[6] = {0x02, 0, 0, 0, 0, 0x01};
  std::memcpy(&frame[6], source, sizeof source);
  frame[12] = static_cast<std::uint8_t>(ether_type >> 8);
  frame[13] = static_cast<std::uint8_t>(ether_type);
  for (std::size_t i = 14; i < frame.size(); ++i) {
    frame[i] = static_cast<std::uint8_t>(fill + (i - 14));
  }
  return frame;
}

FrameInjector::FrameInjector(const std::string& interface)
    : socket_(socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0)) {
  EXPECT_GE(socket_, 0) << "AF_PACKET socket: " << std::strerror(errno);
  sockaddr_ll address{};
  address.sll_family = AF_PACKET;
  address.sll_ifindex = static_cast<int>(if_nametoindex(interface.c_str()));
  EXPECT_NE(address.sll_ifindex, 0) << "no interface " << interface;
  EXPECT_EQ(bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address), 0)
      << "bind to " << interface << ": " << std::strerror(errno);
}

FrameInjector::~FrameInjector() {
  if (socket_ >= 0) close(socket_);
}

bool FrameInjector::send(const std::vector<std::uint8_t>& frame) {
  return ::send(socket_, frame.data(), frame.size(), 0) == static_cast<ssize_t>(frame.size());
}

}  // namespace pkdv::testing
