#include "savefile_read_ahead.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <vector>

namespace pkdv::capture {

namespace {

// Enough to keep the poller busy between two reads of a fast writer, small
// enough that a savefile of large frames does not fill the memory.
constexpr std::size_t kMostQueuedFrames = 1024;
constexpr std::size_t kMostQueuedBytes = 8 << 20;
// A reader is cancelled where it waits for its writer, which takes effect at
// once; the bound only guards against a thread that cannot be reached.
constexpr int kJoinBoundSeconds = 2;

struct Frame {
  pcap_pkthdr header{};
  std::vector<u_char> bytes;
};

}  // namespace

struct SavefileReadAhead::Shared {
  pcap_t* p = nullptr;
  pthread_t thread{};
  int ready_fd = -1;
  std::mutex mutex;
  std::condition_variable room;
  // Guarded by mutex.
  std::deque<Frame> frames;
  std::size_t queued_bytes = 0;
  int end_result = 0;  // pcap_next_ex's last word on the file, once said
  bool stop = false;
  // The consumer's: the frame handed out last.
  Frame current;

  // Keeps ready_fd readable exactly while there is something to take.
  void mark_ready(bool ready) {
    std::uint64_t value = 1;
    ssize_t done = ready ? ::write(ready_fd, &value, sizeof value)
                         : ::read(ready_fd, &value, sizeof value);
    static_cast<void>(done);  // a counter already set, or already clear, is what we want
  }

  bool has_room() const {
    return frames.size() < kMostQueuedFrames && queued_bytes < kMostQueuedBytes;
  }

  // The reader: waits for its writer only with cancellation on, and holds
  // no lock then, so that stopping it can cancel it where it waits.
  void read_all() {
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    for (;;) {
      {
        std::unique_lock lock(mutex);
        room.wait(lock, [this] { return stop || has_room(); });
        if (stop) return;
      }
      pcap_pkthdr* header = nullptr;
      const u_char* bytes = nullptr;
      pthread_setcancelstate(PTHREAD_CANCEL_ENABLE, nullptr);
      const int result = pcap_next_ex(p, &header, &bytes);
      pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
      std::lock_guard lock(mutex);
      const bool was_empty = frames.empty();
      if (result == 1) {
        frames.push_back({*header, std::vector<u_char>(bytes, bytes + header->caplen)});
        queued_bytes += header->caplen;
      } else {
        end_result = result < 0 ? result : PCAP_ERROR;
      }
      if (was_empty) mark_ready(true);
      if (result != 1) return;
    }
  }
};

namespace {

void* run_reader(void* shared) {
  static_cast<SavefileReadAhead::Shared*>(shared)->read_all();
  return nullptr;
}

}  // namespace

std::unique_ptr<SavefileReadAhead> SavefileReadAhead::start(pcap_t* p) {
  auto* shared = new (std::nothrow) Shared;
  if (!shared) return nullptr;
  shared->p = p;
  shared->ready_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::unique_ptr<SavefileReadAhead> read_ahead(new (std::nothrow) SavefileReadAhead(shared));
  if (!read_ahead || shared->ready_fd < 0) {
    if (shared->ready_fd >= 0) ::close(shared->ready_fd);
    if (read_ahead) read_ahead->shared_ = nullptr;
    delete shared;
    return nullptr;
  }
  // Signals are for the client's threads (as for the poller).
  sigset_t all, callers;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &callers);
  const bool started = pthread_create(&shared->thread, nullptr, run_reader, shared) == 0;
  pthread_sigmask(SIG_SETMASK, &callers, nullptr);
  if (!started) {
    ::close(shared->ready_fd);
    read_ahead->shared_ = nullptr;
    delete shared;
    return nullptr;
  }
  return read_ahead;
}

SavefileReadAhead::SavefileReadAhead(Shared* shared) : shared_(shared) {}

SavefileReadAhead::~SavefileReadAhead() {
  if (!shared_) return;  // never started
  {
    std::lock_guard lock(shared_->mutex);
    shared_->stop = true;
  }
  shared_->room.notify_all();
  pthread_cancel(shared_->thread);
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += kJoinBoundSeconds;
  if (pthread_timedjoin_np(shared_->thread, nullptr, &deadline) != 0) {
    // Still running somewhere we cannot stop it: its state must stay.
    pthread_detach(shared_->thread);
    return;
  }
  ::close(shared_->ready_fd);
  delete shared_;
}

int SavefileReadAhead::next(pcap_pkthdr** header, const u_char** bytes) {
  std::lock_guard lock(shared_->mutex);
  if (shared_->frames.empty()) return shared_->end_result;
  shared_->current = std::move(shared_->frames.front());
  shared_->frames.pop_front();
  shared_->queued_bytes -= shared_->current.header.caplen;
  if (shared_->frames.empty() && shared_->end_result == 0) shared_->mark_ready(false);
  shared_->room.notify_one();
  *header = &shared_->current.header;
  *bytes = shared_->current.bytes.data();
  return 1;
}

int SavefileReadAhead::ready_fd() const {
  return shared_->ready_fd;
}

}  // namespace pkdv::capture
