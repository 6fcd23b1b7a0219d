// Twenty client threads on the shared library, on a veth pair in a private
// network namespace with frames arriving all the time. Each keeps reads
// outstanding on two adapters of the same link, reposting them from their
// routines; at random it takes its reads back, or ends with reads outstanding
// and a new thread takes its place, while another thread closes and reopens
// one of the adapters. Every read must end exactly once: handed back (with a
// frame intact, too long for its buffer, or failed by the close), taken back,
// or dropped with its ended thread; no frame may reach two reads. Then the
// threads stop reposting and, frames still flowing, every read left must come
// back. A watchdog ends the process when no read comes back for 3 s.
//
// Runs about 20 s; PKDV_STRESS_SECONDS sets another length. The whole program
// runs inside the namespace (tests/endtoend/in_namespace.sh), since the
// poller thread starts with the library.
#include <gtest/gtest.h>
#include <net/if.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <shared_mutex>
#include <string>
#include <thread>
#include <vector>

#include "netns.h"
#include "pkdv.h"
#include "support/reposting_reader.h"

namespace pkdv::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using support::RepostingReader;

constexpr int kClients = 20;
constexpr int kReadsPerAdapter = 3;
constexpr std::uint32_t kLargeCapacity = 1600;  // every frame fits
constexpr std::uint32_t kSmallCapacity = 128;   // most frames are too long
constexpr std::uint16_t kEtherType = 0x88B5;
constexpr auto kSilenceLimit = std::chrono::seconds(3);

enum class Phase { kSteady, kDrain };

struct Tally {
  std::atomic<long long> posted{0}, frames{0}, too_long{0}, failed{0}, taken_back{0},
      dropped_with_thread{0}, ended_threads{0}, reopenings{0};
  long long ended() const { return frames + too_long + failed + taken_back + dropped_with_thread; }
};

// What every client thread shares.
struct World {
  std::atomic<Phase> phase{Phase::kSteady};
  AdapterHandle steady = PKDV_INVALID_ADAPTER;
  // The adapter that is closed and reopened: posts on it hold the lock shared.
  std::shared_mutex reopened_lock;
  AdapterHandle reopened = PKDV_INVALID_ADAPTER;
  Tally tally;
  std::atomic<std::int64_t> last_hand_back_ms{0};
  std::mutex mutex;  // guards the three below
  std::set<std::uint64_t> sequences;
  std::vector<std::string> errors;
  // Readers of ended threads: the library may write their buffers until its
  // next pass.
  std::vector<std::unique_ptr<RepostingReader>> abandoned;

  void error(const std::string& what) {
    std::lock_guard guard(mutex);
    if (errors.size() < 20) errors.push_back(what);
  }
};

std::int64_t now_ms() {
  return std::chrono::duration_cast<milliseconds>(Clock::now().time_since_epoch()).count();
}

// Empty when `b` holds one of the injected frames intact (see test_frame).
std::string check_frame(const PacketBuffer& b) {
  if (b.captured_length != b.wire_length || b.captured_length < 60 || b.captured_length > 1514)
    return "lengths " + std::to_string(b.captured_length) + "/" + std::to_string(b.wire_length);
  if (b.data[0] != 0xff || b.data[6] != 0x02 || b.data[12] != (kEtherType >> 8) ||
      b.data[13] != (kEtherType & 0xff))
    return "not an injected frame";
  for (std::uint32_t i = 15; i < b.captured_length; ++i) {
    if (b.data[i] != static_cast<std::uint8_t>(b.data[14] + (i - 14))) return "payload corrupted";
  }
  return "";
}

class Client {
 public:
  Client(World& world, int number)
      : world_(world),
        random_(static_cast<std::uint32_t>(number)),
        capacity_(number % 4 == 0 ? kSmallCapacity : kLargeCapacity),
        thread_([this] { run(); }) {}
  ~Client() { thread_.join(); }
  bool ended() const { return ended_.load(); }

 private:
  std::unique_ptr<RepostingReader> make_reader(AdapterHandle adapter, bool repost) {
    return std::make_unique<RepostingReader>(
        adapter, kReadsPerAdapter, capacity_,
        [this, repost](std::uint32_t status, const PacketBuffer& b) {
          handed_back(status, b);
          return repost && world_.phase.load() == Phase::kSteady;
        });
  }

  void handed_back(std::uint32_t status, const PacketBuffer& b) {
    world_.last_hand_back_ms.store(now_ms());
    if (status != b.status) world_.error("the routine's status is not the buffer's");
    if (status == NDIS_STATUS_FAILURE) {
      ++world_.tally.failed;
      return;
    }
    const std::uint64_t sequence = b.sequence;  // on a 4-byte boundary: read by value
    if (sequence <= last_sequence_) world_.error("a thread's frames came out of order");
    last_sequence_ = sequence;
    {
      std::lock_guard guard(world_.mutex);
      if (!world_.sequences.insert(sequence).second) world_.error("a frame reached two reads");
    }
    if (status == NDIS_STATUS_INVALID_LENGTH) {
      ++world_.tally.too_long;
      if (b.wire_length <= capacity_) world_.error("a frame that fits was called too long");
      return;
    }
    ++world_.tally.frames;
    const std::string wrong = status == NDIS_STATUS_SUCCESS ? check_frame(b) : "unknown status";
    if (!wrong.empty()) world_.error(wrong);
  }

  // Posts what is idle; the reads on the reopened adapter are not reposted
  // from their routines, and their reader follows the adapter once it is
  // reopened and all their reads are back.
  void post() {
    steady_->post_idle(kReadsPerAdapter);
    std::shared_lock guard(world_.reopened_lock);
    if (reopened_handle_ != world_.reopened && reopened_->outstanding() == 0) {
      settle(*reopened_);
      reopened_handle_ = world_.reopened;
      reopened_ = make_reader(reopened_handle_, false);
    }
    if (reopened_handle_ == world_.reopened) reopened_->post_idle(1);
  }

  // Adds a reader's posts to the tally when it is done with.
  void settle(const RepostingReader& reader) {
    world_.tally.posted += reader.posts();
    if (reader.refused_posts() != 0) world_.error("a post was refused");
  }

  void run() {
    steady_ = make_reader(world_.steady, true);
    {
      std::shared_lock guard(world_.reopened_lock);
      reopened_handle_ = world_.reopened;
      reopened_ = make_reader(reopened_handle_, false);
    }
    while (world_.phase.load() == Phase::kSteady) {
      PKDV_WaitAlertable(random_() % 16);
      const std::uint32_t choice = random_() % 1000;
      if (choice < 15) {
        world_.tally.taken_back += steady_->take_back() + reopened_->take_back();
      } else if (choice < 18) {
        // Ending with reads outstanding: the library drops them.
        world_.tally.dropped_with_thread += steady_->abandon() + reopened_->abandon();
        settle(*steady_);
        settle(*reopened_);
        std::lock_guard guard(world_.mutex);
        world_.abandoned.push_back(std::move(steady_));
        world_.abandoned.push_back(std::move(reopened_));
        ++world_.tally.ended_threads;
        ended_ = true;
        return;
      } else if (choice < 30) {
        // Busy elsewhere: reads filled meanwhile wait for the next wait.
        std::this_thread::sleep_for(milliseconds(20));
      }
      post();
    }
    // Draining: nothing is posted again, and with frames flowing every read
    // must come back.
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (steady_->outstanding() + reopened_->outstanding() > 0 && Clock::now() < deadline) {
      PKDV_WaitAlertable(20);
    }
    if (steady_->outstanding() + reopened_->outstanding() != 0)
      world_.error("reads never came back while frames flowed");
    settle(*steady_);
    settle(*reopened_);
    ended_ = true;
  }

  World& world_;
  std::mt19937 random_;
  const std::uint32_t capacity_;
  std::uint64_t last_sequence_ = 0;
  std::unique_ptr<RepostingReader> steady_;
  AdapterHandle reopened_handle_ = PKDV_INVALID_ADAPTER;
  std::unique_ptr<RepostingReader> reopened_;
  std::atomic<bool> ended_{false};
  std::thread thread_;  // last: starts once the rest is made
};

AdapterHandle open_pkdv0() {
  char name[] = "rpcap://pkdv0";
  return PKDV_OpenAdapterA(name);
}

double stress_seconds() {
  const char* text = std::getenv("PKDV_STRESS_SECONDS");
  const double seconds = text ? std::atof(text) : 0;
  return seconds > 0 ? seconds : 20.0;
}

TEST(Stress, EveryReadEndsExactlyOnce) {
  if (if_nametoindex("pkdv0") == 0 || if_nametoindex("pkdv1") == 0) {
    GTEST_SKIP() << "needs the veth pair of a private namespace: run it through "
                    "tests/endtoend/in_namespace.sh (ctest does)";
  }
  World world;
  world.steady = open_pkdv0();
  world.reopened = open_pkdv0();
  ASSERT_NE(world.steady, PKDV_INVALID_ADAPTER);
  ASSERT_NE(world.reopened, PKDV_INVALID_ADAPTER);
  world.last_hand_back_ms = now_ms();

  std::atomic<bool> running{true};
  std::atomic<long long> injected{0};
  std::thread injector([&] {
    FrameInjector wire("pkdv1");
    for (std::uint32_t n = 0; running; ++n) {
      if (wire.send(test_frame(kEtherType, 60 + n * 97 % 1455, static_cast<std::uint8_t>(n))))
        ++injected;
      if (n % 3 == 0) std::this_thread::sleep_for(milliseconds(2));  // about 1,500 frames/s
    }
  });
  std::thread watchdog([&] {
    while (running) {
      std::this_thread::sleep_for(milliseconds(100));
      if (now_ms() - world.last_hand_back_ms.load() > milliseconds(kSilenceLimit).count()) {
        std::printf("stress: no read came back for %lld s: a deadlock or a lost read\n",
                    static_cast<long long>(kSilenceLimit.count()));
        std::fflush(stdout);
        std::_Exit(3);
      }
    }
  });
  std::thread closer([&] {
    std::mt19937 random(1);
    while (world.phase.load() == Phase::kSteady) {
      std::this_thread::sleep_for(milliseconds(150 + random() % 200));
      std::unique_lock guard(world.reopened_lock);
      EXPECT_EQ(PKDV_CloseAdapter(world.reopened), 1);
      world.reopened = open_pkdv0();
      ++world.tally.reopenings;
      if (world.reopened == PKDV_INVALID_ADAPTER) {
        world.error("the closed adapter could not be opened again");
        return;
      }
    }
  });

  std::vector<std::unique_ptr<Client>> clients;
  int started = 0;
  for (; started < kClients; ++started) clients.push_back(std::make_unique<Client>(world, started));
  const auto steady_end = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(stress_seconds()));
  while (Clock::now() < steady_end) {
    std::this_thread::sleep_for(milliseconds(20));
    for (auto& client : clients) {
      if (client->ended()) client = std::make_unique<Client>(world, started++);
    }
  }
  world.phase = Phase::kDrain;
  closer.join();
  clients.clear();  // joins every thread, once its reads are back
  running = false;
  injector.join();
  watchdog.join();
  EXPECT_EQ(PKDV_CloseAdapter(world.steady), 1);
  EXPECT_EQ(PKDV_CloseAdapter(world.reopened), 1);

  const Tally& t = world.tally;
  std::printf(
      "stress: %d client threads (%lld ended with reads outstanding), adapter reopened %lld "
      "times, %lld frames injected; %lld reads posted = %lld frames + %lld too long + %lld "
      "failed by a close + %lld taken back + %lld dropped with their thread\n",
      started, t.ended_threads.load(), t.reopenings.load(), injected.load(), t.posted.load(),
      t.frames.load(), t.too_long.load(), t.failed.load(), t.taken_back.load(),
      t.dropped_with_thread.load());
  std::string errors;
  for (const std::string& e : world.errors) errors += e + "\n";
  EXPECT_TRUE(world.errors.empty()) << errors;
  EXPECT_EQ(t.posted.load(), t.ended()) << "reads that did not end exactly once";
  // Each way of ending was met.
  for (const auto* count :
       {&t.frames, &t.too_long, &t.failed, &t.taken_back, &t.dropped_with_thread}) {
    EXPECT_GT(count->load(), 0);
  }
}

}  // namespace
}  // namespace pkdv::testing
