// Reads from end to end through the shared library, its poller and delivery:
// a savefile source, and live frames on a veth pair in a private namespace.
#include <gtest/gtest.h>
#include <net/if.h>
#include <pcap/pcap.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "netns.h"
#include "pkdv.h"
#include "reader.h"
#include "savefile_writer.h"

namespace pkdv::testing {
namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// Frames of many sizes, and the extremes of a savefile record: the shortest
// frame at time zero, the longest at the last microsecond of a second.
std::vector<SavedFrame> make_frames(int count) {
  std::vector<SavedFrame> frames = {{0, 0, test_frame(0x86DD, 14)},
                                    {1'700'000'000, 999'999, test_frame(0x0800, 1514, 2)}};
  for (int i = 0; i < count; ++i) {
    frames.push_back({1'700'000'000 + i, i * 1000 + 7,
                      test_frame(0x88B5, 60 + static_cast<std::size_t>(i * 29 % 1400),
                                 static_cast<std::uint8_t>(i))});
  }
  return frames;
}

std::string write_frames(const std::vector<SavedFrame>& frames) {
  std::string path = ::testing::TempDir() + "pkdv_end_to_end_" + std::to_string(getpid()) + ".pcap";
  EXPECT_TRUE(write_savefile(path, frames));
  return path;
}

void expect_consecutive(const std::vector<ReadResult>& results, std::size_t count) {
  for (std::size_t i = 1; i < count; ++i) {
    EXPECT_EQ(results[i].sequence, results[0].sequence + i) << "read " << i;
  }
}

TEST(EndToEnd, SavefileFramesComeBackByteExactInOrder) {
  const auto frames = make_frames(60);
  const std::string path = write_frames(frames);
  std::string name = "file://" + path;
  AdapterHandle adapter = PKDV_OpenAdapterA(name.data());
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  {
    Reader reader(adapter, 8);
    // One more read than there are frames: the end of the file is reported as
    // a failed read.
    reader.run_until(frames.size() + 1, milliseconds(20000));
    const auto& results = reader.results();
    ASSERT_EQ(results.size(), frames.size() + 1);
    for (std::size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(results[i].status, NDIS_STATUS_SUCCESS);
      EXPECT_EQ(results[i].data, frames[i].data);
      EXPECT_EQ(results[i].captured_length, frames[i].data.size());
      EXPECT_EQ(results[i].wire_length, frames[i].data.size());
      EXPECT_EQ(results[i].timestamp, static_cast<std::uint64_t>(frames[i].seconds) * 10'000'000u +
                                          static_cast<std::uint64_t>(frames[i].microseconds) * 10u);
    }
    expect_consecutive(results, frames.size());
    EXPECT_EQ(results.back().status, NDIS_STATUS_FAILURE);
  }
  EXPECT_EQ(PKDV_CloseAdapter(adapter), 1);
  std::remove(path.c_str());
}

// A savefile record may claim more captured bytes than the frame had on the
// wire: only the frame's bytes are copied, and the captured length says so,
// so a client that trusts it stays within its data area.
TEST(EndToEnd, CapturedLengthNeverExceedsTheBytesCopied) {
  std::vector<std::uint8_t> bytes(100);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i);
  const std::string path = write_frames({{1, 5, bytes, 60}});
  std::string name = "file://" + path;
  AdapterHandle adapter = PKDV_OpenAdapterA(name.data());
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  {
    Reader reader(adapter, 1, /*capacity=*/80);
    reader.run_until(1, milliseconds(5000));
    ASSERT_EQ(reader.results().size(), 1u);
    const ReadResult& r = reader.results()[0];
    EXPECT_EQ(r.status, NDIS_STATUS_SUCCESS);
    EXPECT_EQ(r.wire_length, 60u);
    EXPECT_EQ(r.captured_length, 60u);
    EXPECT_EQ(r.data, std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 60));
  }
  EXPECT_EQ(PKDV_CloseAdapter(adapter), 1);
  std::remove(path.c_str());
}

bool fixed_pacing() {
  const char* pacing = std::getenv("PKDV_PACING");
  return pacing && std::strcmp(pacing, "fixed") == 0;
}

// 10,000 frames with 64 reads outstanding: at the former pace of a pass every
// 100 ms that took 157 passes, over 15 s.
TEST(EndToEnd, ASavefileIsReadWithoutPacing) {
  if (fixed_pacing()) GTEST_SKIP() << "PKDV_PACING=fixed";
  const std::string path = write_frames(make_frames(10'000));
  std::string name = "file://" + path;
  AdapterHandle adapter = PKDV_OpenAdapterA(name.data());
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  {
    Reader reader(adapter, 64);
    const auto start = Clock::now();
    reader.run_until(10'002, milliseconds(20000));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    ASSERT_EQ(reader.results().size(), 10'002u);
    EXPECT_LT(took.count(), 1500) << "a tenth of the paced time";
  }
  EXPECT_EQ(PKDV_CloseAdapter(adapter), 1);
  std::remove(path.c_str());
}

// Run by ctest with PKDV_PACING=fixed: 41 frames with 8 reads outstanding take
// six passes, 100 ms apart.
TEST(EndToEndFixedPacing, KeepsAPassEvery100Milliseconds) {
  if (!fixed_pacing()) GTEST_SKIP() << "needs PKDV_PACING=fixed (ctest runs it so)";
  const std::string path = write_frames(make_frames(39));
  std::string name = "file://" + path;
  AdapterHandle adapter = PKDV_OpenAdapterA(name.data());
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  {
    Reader reader(adapter, 8);
    const auto start = Clock::now();
    reader.run_until(41, milliseconds(5000));
    const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
    ASSERT_EQ(reader.results().size(), 41u);
    EXPECT_GE(took.count(), 5 * 100 - 20);
  }
  EXPECT_EQ(PKDV_CloseAdapter(adapter), 1);
  std::remove(path.c_str());
}

// A savefile on a FIFO whose writer pauses after one frame: the reads waiting
// for their next frame hold up nobody else. Reads on another adapter are
// served, and the stalled adapter closes, handing its pending reads back as
// failures, while the writer still pauses.
TEST(EndToEnd, AStalledFifoHoldsUpOnlyItsOwnReads) {
  const std::string fifo =
      ::testing::TempDir() + "pkdv_end_to_end_fifo_" + std::to_string(getpid());
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string other = write_frames(make_frames(8));
  std::atomic<bool> release_writer{false};
  std::thread writer([&] {
    pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65536);
    pcap_dumper_t* dumper = pcap_dump_open(dead, fifo.c_str());  // waits for the reader
    if (!dumper) return;
    const auto frame = test_frame(0x88B5, 60);
    pcap_pkthdr header{};
    header.caplen = header.len = static_cast<bpf_u_int32>(frame.size());
    pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame.data());
    pcap_dump_flush(dumper);
    const auto give_up = Clock::now() + milliseconds(10000);
    while (!release_writer && Clock::now() < give_up) std::this_thread::sleep_for(milliseconds(5));
    pcap_dump_close(dumper);
    pcap_close(dead);
  });
  std::string fifo_name = "file://" + fifo;
  AdapterHandle stalled = PKDV_OpenAdapterA(fifo_name.data());
  std::string other_name = "file://" + other;
  AdapterHandle served = PKDV_OpenAdapterA(other_name.data());
  if (stalled != PKDV_INVALID_ADAPTER && served != PKDV_INVALID_ADAPTER) {
    Reader waiting(stalled, 4);
    waiting.run_until(4, milliseconds(300));
    EXPECT_EQ(waiting.results().size(), 1u) << "the written frame, and three reads waiting";
    std::size_t other_results = 0;
    milliseconds other_took{};
    std::thread([&] {
      const auto start = Clock::now();
      Reader reader(served, 10);
      reader.run_until(10, milliseconds(3000));
      other_took = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
      other_results = reader.results().size();
    }).join();
    EXPECT_EQ(other_results, 10u);
    EXPECT_LT(other_took.count(), 1000) << "another adapter's reads waited for the writer";
    const auto start = Clock::now();
    EXPECT_EQ(PKDV_CloseAdapter(stalled), 1);
    EXPECT_LT(std::chrono::duration_cast<milliseconds>(Clock::now() - start).count(), 1000)
        << "the close waited for the writer";
    stalled = PKDV_INVALID_ADAPTER;
    waiting.run_until(4, milliseconds(1000));
    ASSERT_EQ(waiting.results().size(), 4u);
    for (std::size_t i = 1; i < 4; ++i)
      EXPECT_EQ(waiting.results()[i].status, NDIS_STATUS_FAILURE) << "retired by the close";
  }
  release_writer = true;
  writer.join();
  EXPECT_NE(served, PKDV_INVALID_ADAPTER);
  if (served != PKDV_INVALID_ADAPTER) {
    EXPECT_EQ(PKDV_CloseAdapter(served), 1);
  }
  if (stalled != PKDV_INVALID_ADAPTER) PKDV_CloseAdapter(stalled);
  std::remove(fifo.c_str());
  std::remove(other.c_str());
}

// The rest runs inside a private namespace with the veth pair pkdv0 <-> pkdv1:
// the whole program has to be there, since the poller started with the library.
bool inside_test_namespace() {
  return if_nametoindex("pkdv0") != 0 && if_nametoindex("pkdv1") != 0;
}

#define SKIP_OUTSIDE_NAMESPACE()                                                           \
  do {                                                                                     \
    if (!inside_test_namespace())                                                          \
      GTEST_SKIP() << "needs the veth pair of tests/live/netns_run.sh (ctest runs it so)"; \
  } while (0)

TEST(EndToEndLive, InjectedFramesComeBackByteExactWellInsideOneFormerPacingInterval) {
  SKIP_OUTSIDE_NAMESPACE();
  char name[] = "\\Device\\rpcap://pkdv0";
  AdapterHandle adapter = PKDV_OpenAdapterA(name);
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  constexpr int kFrames = 120;
  std::vector<std::vector<std::uint8_t>> sent(kFrames);
  std::vector<Clock::time_point> injected(kFrames);
  std::vector<std::int64_t> injected_wall(kFrames);
  {
    Reader reader(adapter, 16);
    std::thread injector([&] {
      FrameInjector out("pkdv1");
      std::mt19937 random(12345);
      std::uniform_int_distribution<int> pause_ms(0, 40);
      for (int i = 0; i < kFrames; ++i) {
        std::this_thread::sleep_for(milliseconds(pause_ms(random)));
        sent[i] = test_frame(0x88B5, 60 + static_cast<std::size_t>(i * 37 % 1400),
                             static_cast<std::uint8_t>(i));
        injected_wall[i] = std::chrono::duration_cast<std::chrono::microseconds>(
                               std::chrono::system_clock::now().time_since_epoch())
                               .count();
        injected[i] = Clock::now();
        EXPECT_TRUE(out.send(sent[i]));
      }
    });
    reader.run_until(kFrames, milliseconds(30000));
    injector.join();
    const auto& results = reader.results();
    ASSERT_EQ(results.size(), static_cast<std::size_t>(kFrames)) << "no frame may be lost";
    std::vector<milliseconds> latencies;
    for (int i = 0; i < kFrames; ++i) {
      SCOPED_TRACE(i);
      ASSERT_EQ(results[i].status, NDIS_STATUS_SUCCESS);
      EXPECT_EQ(results[i].data, sent[i]) << "in order and byte-exact";
      // Capture time lies between injection and hand-back (100 ns units).
      const auto stamp_us = static_cast<std::int64_t>(results[i].timestamp / 10);
      EXPECT_GE(stamp_us, injected_wall[i] - 2000);
      EXPECT_LE(stamp_us, injected_wall[i] + 200'000);
      latencies.push_back(
          std::chrono::duration_cast<milliseconds>(results[i].handed_back - injected[i]));
    }
    expect_consecutive(results, kFrames);
    // Each frame comes while the poller sleeps, which the frame ends: it
    // comes back in about a millisecond, where the former pace of a pass
    // every 100 ms made it wait up to 100 ms. The bounds leave room for a
    // loaded test machine (a sanitizer build beside another test); one frame
    // may meet a stall. With PKDV_PACING=fixed, the former bounds hold.
    std::sort(latencies.begin(), latencies.end());
    const long pace = fixed_pacing() ? 100 : 0;
    EXPECT_LE(latencies[kFrames - 2].count(), pace + 40) << "second slowest frame";
    EXPECT_LE(latencies[kFrames - 1].count(), pace + 90) << "slowest frame";
    std::printf("slowest injection-to-routine time: %lld ms\n",
                static_cast<long long>(latencies.back().count()));
  }
  EXPECT_EQ(PKDV_CloseAdapter(adapter), 1);
}

std::uint64_t frames_dropped(AdapterHandle adapter) {
  std::uint64_t count = 0;
  NdisRequestRecord request{};
  request.request_type = PKDV_NDIS_REQUEST_QUERY;
  request.oid = 0x00020105;  // OID_GEN_RCV_NO_BUFFER
  request.information_buffer = &count;
  request.information_buffer_length = sizeof count;
  EXPECT_EQ(PKDV_MakeNdisRequest(adapter, &request, nullptr, 1), 0u);
  EXPECT_EQ(request.bytes_written, sizeof count);
  return count;
}

// A burst while no read is posted overflows the capture ring: the handle's
// drop count says how much was lost.
TEST(EndToEndLive, TheDropCountRisesWhenNoReadsArePostedDuringABurst) {
  SKIP_OUTSIDE_NAMESPACE();
  char name[] = "rpcap://pkdv0";
  AdapterHandle adapter = PKDV_OpenAdapterA(name);
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);
  const std::uint64_t before = frames_dropped(adapter);
  {
    FrameInjector out("pkdv1");
    const auto frame = test_frame(0x88B5, 1514);
    for (int i = 0; i < 20'000; ++i) out.send(frame);  // the ring holds about 5,000
  }
  EXPECT_GT(frames_dropped(adapter), before);
  EXPECT_EQ(PKDV_CloseAdapter(adapter), 1);
}

}  // namespace
}  // namespace pkdv::testing
