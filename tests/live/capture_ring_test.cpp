// The kernel ring behind a live handle keeps the frames that arrive between
// two passes of the poller at its fixed pace (100 ms apart), not just the
// first few. (The poller that wakes on arrival reads blocks as they close.)
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "netns.h"
#include "capture/capture.h"

namespace pkdv::capture {
namespace {

using pkdv::testing::FrameInjector;
using pkdv::testing::run_in_private_network;
using pkdv::testing::test_frame;
using pkdv::testing::VethPair;

TEST(LiveCapture, FramesArrivingBetweenTwoPassesAreAllKept) {
  PKDV_SKIP_UNLESS_ROOT();
  run_in_private_network([](const VethPair& veth) {
    char error[kErrorBufferSize] = {};
    // The parameters of every adapter open: 64 KiB snapshot, 1 ms read time-out.
    setenv("PKDV_PACING", "fixed", 1);
    Handle* handle = open(("rpcap://" + veth.first).c_str(), 65536, 0, 1, error);
    unsetenv("PKDV_PACING");
    ASSERT_NE(handle, nullptr) << error;
    FrameInjector injector(veth.second);
    // 150 frames spread over the poller's pause of 100 ms, then one poll run.
    constexpr int kFrames = 150;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kFrames; ++i) {
      ASSERT_TRUE(injector.send(test_frame(0x88B5, 200, static_cast<std::uint8_t>(i))));
      std::this_thread::sleep_until(start + i * std::chrono::microseconds(600));
    }
    std::this_thread::sleep_until(start + std::chrono::milliseconds(100));

    int kept = 0;
    FrameHeader header{};
    const std::uint8_t* data = nullptr;
    while (next_frame(handle, &header, &data) == 1) {
      ASSERT_EQ(header.captured_length, 200u);
      EXPECT_EQ(data[14], static_cast<std::uint8_t>(kept)) << "in order";
      ++kept;
    }
    EXPECT_EQ(kept, kFrames) << "frames were dropped while nobody polled";
    close(handle);
  });
}

}  // namespace
}  // namespace pkdv::capture
