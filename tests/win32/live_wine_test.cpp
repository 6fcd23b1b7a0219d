// pkdv.dll under Wine on a veth pair (pkdv0 <-> pkdv1) in a network namespace
// that run_live_under_wine.sh has made, with Wine's own wpcap.dll forwarding
// to the host's libpcap. Meant to run only there. Built for i686 it meets the
// 32-bit forwarder, whose frame headers come shifted (pkdv.h says what a
// client gets there); every routine is called through a stack guard.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dll_client.h"
#include "capture/capture.h"
#include "stack_guard.h"

namespace pkdv::testing {
namespace {

using Clock = std::chrono::steady_clock;

class LiveWine : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dll.load());
    AdapterRegistryInfo info{};
    for (std::uint32_t r = dll.first(&info); r == 0; r = dll.next(&info))
      names[info.description] = info.name;
    ASSERT_EQ(names.count("pkdv0"), 1u) << "pkdv0 is not listed";
    ASSERT_EQ(names.count("pkdv1"), 1u) << "pkdv1 is not listed";
  }
  void TearDown() override { dll.unload(); }

  // Opens an adapter by a listed name, as the client passes it.
  AdapterHandle open(std::string name) {
    std::vector<char> text(name.begin(), name.end());
    text.push_back('\0');
    return dll.open(text.data());
  }

  DllClient dll;
  std::map<std::string, std::string> names;  // description (Linux name) -> listed name
};

std::vector<std::uint8_t> frame(std::uint8_t tag, std::size_t size) {
  std::vector<std::uint8_t> f(size);
  std::memset(f.data(), 0xFF, 6);  // broadcast
  const std::uint8_t source[6] = {0x02, 0, 0, 0, 0, 0x01};
  std::memcpy(f.data() + 6, source, 6);
  f[12] = 0x88;  // local experimental EtherType
  f[13] = 0xB5;
  for (std::size_t i = 14; i < size; ++i) f[i] = static_cast<std::uint8_t>(tag + i);
  return f;
}

void PKDV_CALLBACK ignore_send(std::uint32_t, std::uint32_t, std::uintptr_t) {}

TEST_F(LiveWine, OpenByDevicePrefixedNameAndSendToThePeer) {
  const std::string listed = names["pkdv0"];
  ASSERT_EQ(listed.rfind("rpcap://\\Device\\NPF_{", 0), 0u) << listed;
  // The "\Device\" form, as older clients pass it: stripped in place.
  std::string device_name = listed.substr(std::strlen("rpcap://"));
  std::vector<char> text(device_name.begin(), device_name.end());
  text.push_back('\0');
  AdapterHandle sender = dll.open(text.data());
  ASSERT_NE(sender, PKDV_INVALID_ADAPTER);
  EXPECT_EQ(std::string(text.data()), device_name.substr(8));

  // The peer is watched through the capture unit directly.
  char error[capture::kErrorBufferSize] = {};
  capture::Handle* peer = capture::open(names["pkdv1"].c_str(), 65536, 0, 1, error);
  ASSERT_NE(peer, nullptr) << error;

  const std::vector<std::uint8_t> f = frame(7, 100);
  std::uint32_t sent = 0;
  GuardedRoutine guard(ignore_send, 0);
  EXPECT_EQ(dll.send(sender, f.data(), static_cast<std::uint32_t>(f.size()), &sent, guard.context(),
                     guard.routine()),
            NDIS_STATUS_SUCCESS);
  EXPECT_EQ(guard.failure(), "");
  EXPECT_EQ(sent, f.size());

  bool seen = false;
  for (auto deadline = Clock::now() + std::chrono::seconds(3); !seen && Clock::now() < deadline;) {
    capture::FrameHeader header{};
    const std::uint8_t* data = nullptr;
    const int r = capture::next_frame(peer, &header, &data);
    ASSERT_GE(r, 0);
    if (r == 1)
      seen = std::vector<std::uint8_t>(data, data + header.captured_length) == f;
    else
      Sleep(1);
  }
  EXPECT_TRUE(seen) << "the frame did not reach pkdv1";
  capture::close(peer);
  dll.close(sender);
}

TEST_F(LiveWine, EmptyPollReturnsAtOnce) {
  char error[capture::kErrorBufferSize] = {};
  capture::Handle* handle = capture::open(names["pkdv1"].c_str(), 65536, 0, 1, error);
  ASSERT_NE(handle, nullptr) << error;
  double worst_ms = 0;
  double total_ms = 0;
  constexpr int kPolls = 200;
  for (int i = 0; i < kPolls; ++i) {
    capture::FrameHeader header{};
    const std::uint8_t* data = nullptr;
    const auto start = Clock::now();
    EXPECT_EQ(capture::next_frame(handle, &header, &data), 0);
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    worst_ms = std::max(worst_ms, ms);
    total_ms += ms;
  }
  std::printf("empty poll under Wine: mean %.3f ms, worst %.3f ms over %d polls\n",
              total_ms / kPolls, worst_ms, kPolls);
  EXPECT_LT(worst_ms, 5.0);
  capture::close(handle);
}

TEST_F(LiveWine, NdisRequestFindsNoDriverBehindWinesForwarder) {
  AdapterHandle adapter = open(names["pkdv0"]);
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  std::uint8_t mac[6] = {};
  NdisRequestRecord request{};
  request.request_type = PKDV_NDIS_REQUEST_QUERY;
  request.oid = 0x01010102;
  request.information_buffer = mac;
  request.information_buffer_length = sizeof mac;
  EXPECT_EQ(dll.ndis(adapter, &request, nullptr, 1), NDIS_STATUS_ADAPTER_NOT_READY);
  dll.close(adapter);
}

struct Delivery {
  std::uintptr_t context;
  std::uint32_t status;
  Clock::time_point when;
};
std::vector<Delivery> deliveries;
void PKDV_CALLBACK record_delivery(std::uint32_t status, std::uint32_t, std::uintptr_t context) {
  deliveries.push_back({context, status, Clock::now()});
}

std::uint64_t unix_time_100ns() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  const std::uint64_t since_1601 = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return since_1601 - 116444736000000000ull;
}

// Posted reads on one adapter, each with a guarded routine.
struct Reads {
  static constexpr std::uint32_t kCapacity = 1600;
  Reads(DllClient& dll, AdapterHandle reader, int count)
      : storage(count, std::vector<std::uint8_t>(PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity)),
        transferred(count) {
    deliveries.clear();
    for (int i = 0; i < count; ++i) {
      guards.push_back(std::make_unique<GuardedRoutine>(record_delivery, i));
      buffer(i)->capacity = kCapacity;
      EXPECT_EQ(
          dll.read(reader, buffer(i), &transferred[i], guards[i]->context(), guards[i]->routine()),
          1u);
    }
  }
  PacketBuffer* buffer(int i) { return reinterpret_cast<PacketBuffer*>(storage[i].data()); }
  // Waits alertably until `count` reads are back or `limit` has passed.
  void wait_for(std::size_t count, std::chrono::milliseconds limit) {
    for (auto deadline = Clock::now() + limit;
         deliveries.size() < count && Clock::now() < deadline;)
      SleepEx(50, TRUE);
  }
  void expect_balanced() {
    for (const auto& guard : guards) EXPECT_EQ(guard->failure(), "");
  }

  std::vector<std::vector<std::uint8_t>> storage;
  std::vector<std::uint32_t> transferred;
  std::vector<std::unique_ptr<GuardedRoutine>> guards;
};

void send_all(DllClient& dll, AdapterHandle injector,
              const std::vector<std::vector<std::uint8_t>>& frames) {
  GuardedRoutine guard(ignore_send, 0);
  for (const auto& f : frames) {
    std::uint32_t sent = 0;
    ASSERT_EQ(dll.send(injector, f.data(), static_cast<std::uint32_t>(f.size()), &sent,
                       guard.context(), guard.routine()),
              NDIS_STATUS_SUCCESS);
  }
  EXPECT_EQ(guard.failure(), "");
}

// Wine's 32-bit forwarder loses the microseconds: the time stamp is then the poll's, which
// comes after the capture but may come after the send ended too.
constexpr bool kPollTimeStamps = sizeof(void*) == 4;

// Frames from the peer through a filter: the reads come back in order, each
// with the next frame the filter kept, whole, numbered one after the other and
// stamped with its capture time.
TEST_F(LiveWine, FilteredFramesComeBackWholeInOrder) {
  AdapterHandle reader = open(names["pkdv0"]);
  AdapterHandle injector = open(names["pkdv1"]);
  ASSERT_NE(reader, PKDV_INVALID_ADAPTER);
  ASSERT_NE(injector, PKDV_INVALID_ADAPTER);
  // Our EtherType, and the first payload byte of the frames tagged 0x20.
  struct Instruction {
    std::uint16_t code;
    std::uint8_t jt, jf;
    std::uint32_t k;
  };
  const Instruction program[] = {
      {0x28, 0, 0, 12},        {0x15, 0, 3, 0x88B5}, {0x30, 0, 0, 14},
      {0x15, 0, 1, 0x20 + 14}, {0x06, 0, 0, 65535},  {0x06, 0, 0, 0},
  };
  ASSERT_EQ(dll.filter(reader, program, sizeof program), 1);

  constexpr int kReads = 5;
  Reads reads(dll, reader, kReads);
  std::vector<std::vector<std::uint8_t>> frames, kept;
  for (int i = 0; i < 2 * kReads; ++i) {
    frames.push_back(frame(i % 2 ? 0x20 : 0x10, 64 + 137 * i));
    if (i % 2) kept.push_back(frames.back());
  }
  const std::uint64_t window_start = unix_time_100ns();
  const auto sent_at = Clock::now();
  send_all(dll, injector, frames);
  const std::uint64_t window_end = unix_time_100ns();
  reads.wait_for(kReads, std::chrono::seconds(3));
  const std::uint64_t delivered_by = unix_time_100ns();

  ASSERT_EQ(deliveries.size(), static_cast<std::size_t>(kReads));
  for (int i = 0; i < kReads; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(deliveries[i].context, static_cast<std::uintptr_t>(i)) << "out of order";
    EXPECT_EQ(deliveries[i].status, NDIS_STATUS_SUCCESS);
    // One pacing interval (100 ms) plus a margin for Wine and the wait's slices.
    EXPECT_LT(deliveries[i].when - sent_at, std::chrono::milliseconds(400));
    const PacketBuffer* buffer = reads.buffer(i);
    ASSERT_EQ(buffer->captured_length, kept[i].size());
    EXPECT_EQ(buffer->wire_length, kept[i].size());
    EXPECT_EQ(std::vector<std::uint8_t>(buffer->data, buffer->data + buffer->captured_length),
              kept[i]);
    EXPECT_EQ(buffer->sequence, reads.buffer(0)->sequence + i);
    // Whole microseconds: up to 10 units below the window's start.
    EXPECT_GE(buffer->timestamp + 10, window_start);
    EXPECT_LE(buffer->timestamp, (kPollTimeStamps ? delivered_by : window_end) + 10);
  }
  reads.expect_balanced();
  dll.close(injector);
  dll.close(reader);
}

}  // namespace
}  // namespace pkdv::testing
