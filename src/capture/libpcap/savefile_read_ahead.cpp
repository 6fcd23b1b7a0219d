#include "capture/libpcap/savefile_read_ahead.h"

#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
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
// A reader waiting between records ends at once when asked to; one inside a
// record is given this long, then cancelled where it waits, which acts at
// once; the last bound only guards against a thread that cannot be reached.
constexpr int kStopBoundMs = 100;
constexpr int kJoinBoundSeconds = 2;

// Every read-ahead whose thread was started, for stop_all.
std::mutex registry_mutex;
SavefileReadAhead::Shared* alive = nullptr;

bool joined_within(pthread_t thread, int milliseconds) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  const long nanoseconds = deadline.tv_nsec + (milliseconds % 1000) * 1'000'000L;
  deadline.tv_sec += milliseconds / 1000 + nanoseconds / 1'000'000'000L;
  deadline.tv_nsec = nanoseconds % 1'000'000'000L;
  return pthread_timedjoin_np(thread, nullptr, &deadline) == 0;
}

struct Frame {
  pcap_pkthdr header{};
  std::vector<u_char> bytes;
};

}  // namespace

struct SavefileReadAhead::Shared {
  pcap_t* p = nullptr;
  pthread_t thread{};
  int ready_fd = -1;
  int stop_fd = -1;  // readable once the reader is to stop
  std::mutex mutex;
  std::condition_variable room;
  // Guarded by mutex.
  std::deque<Frame> frames;
  std::size_t queued_bytes = 0;
  int end_result = 0;  // pcap_next_ex's last word on the file, once said
  bool stop = false;
  // Under the registry's lock: the reader has ended and been joined; and the
  // next read-ahead alive.
  bool joined = false;
  Shared* next_alive = nullptr;
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

  // Waits until the file has bytes to read, or a stop. Bytes already in the
  // stream's buffer count (glibc's buffer pointers): the descriptor may have
  // nothing left while whole records wait there. False on a stop.
  bool wait_for_writer() {
    FILE* stream = pcap_file(p);
    if (stream->_IO_read_ptr < stream->_IO_read_end) return true;
    pollfd polled[2] = {{fileno(stream), POLLIN, 0}, {stop_fd, POLLIN, 0}};
    while (::poll(polled, 2, -1) < 0) {
      if (errno != EINTR) return true;  // the read then reports the failure
    }
    return polled[1].revents == 0;
  }

  // The reader: waits for its writer in poll(), where a stop reaches it. A
  // writer that pauses in the middle of a record leaves it in the read, with
  // cancellation on and no lock held, so that stopping it can cancel it there.
  void read_all() {
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, nullptr);
    for (;;) {
      {
        std::unique_lock lock(mutex);
        room.wait(lock, [this] { return stop || has_room(); });
        if (stop) return;
      }
      if (!wait_for_writer()) return;
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

// Ends the reader, if it still runs. False when it cannot be reached: its
// state must then stay. The caller holds registry_mutex.
bool stop_and_join(SavefileReadAhead::Shared* shared) {
  if (shared->joined) return true;
  {
    std::lock_guard lock(shared->mutex);
    shared->stop = true;
  }
  shared->room.notify_all();
  const std::uint64_t one = 1;
  static_cast<void>(::write(shared->stop_fd, &one, sizeof one));
  if (!joined_within(shared->thread, kStopBoundMs)) {
    // In the middle of a record whose rest does not come: cancelled in its
    // read, which acts at once.
    pthread_cancel(shared->thread);
    if (!joined_within(shared->thread, kJoinBoundSeconds * 1000)) return false;
  }
  shared->joined = true;
  return true;
}

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
  shared->stop_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  std::unique_ptr<SavefileReadAhead> read_ahead(new (std::nothrow) SavefileReadAhead(shared));
  if (!read_ahead || shared->ready_fd < 0 || shared->stop_fd < 0) {
    for (int fd : {shared->ready_fd, shared->stop_fd})
      if (fd >= 0) ::close(fd);
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
    ::close(shared->stop_fd);
    read_ahead->shared_ = nullptr;
    delete shared;
    return nullptr;
  }
  std::lock_guard registry(registry_mutex);
  shared->next_alive = alive;
  alive = shared;
  return read_ahead;
}

SavefileReadAhead::SavefileReadAhead(Shared* shared) : shared_(shared) {}

SavefileReadAhead::~SavefileReadAhead() {
  if (!shared_) return;  // never started
  std::lock_guard registry(registry_mutex);
  for (Shared** link = &alive; *link; link = &(*link)->next_alive) {
    if (*link == shared_) {
      *link = shared_->next_alive;
      break;
    }
  }
  if (!stop_and_join(shared_)) {
    // Still running somewhere we cannot stop it: its state must stay.
    pthread_detach(shared_->thread);
    return;
  }
  ::close(shared_->ready_fd);
  ::close(shared_->stop_fd);
  delete shared_;
}

void SavefileReadAhead::stop_all() {
  std::lock_guard registry(registry_mutex);
  for (Shared* shared = alive; shared; shared = shared->next_alive) stop_and_join(shared);
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
