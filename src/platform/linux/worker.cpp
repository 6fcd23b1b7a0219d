// The library's background thread with a stop request it can wait on.
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

#include "platform/platform.h"

namespace pkdv::sys {

struct Worker {
  explicit Worker(WorkerBody worker_body) : body(worker_body) {}

  const WorkerBody body;
  pthread_t thread{};
  std::mutex mutex;
  std::condition_variable wake;
  bool stop_asked = false;  // guarded by mutex
  // Readable while a wake-up or a stop is due: what worker_wait polls
  // besides its sources.
  int wake_fd = -1;
};

namespace {

// Long enough for a pass of the poller to finish, short enough that an unload
// never hangs on a worker that is stuck.
constexpr int kJoinBoundSeconds = 5;

// The wall-clock form, which thread sanitizers know as a join. Fails at once
// when called from the worker itself (EDEADLK).
bool join_within_bound(Worker* worker) {
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += kJoinBoundSeconds;
  return pthread_timedjoin_np(worker->thread, nullptr, &deadline) == 0;
}

void delete_worker(Worker* worker) {
  ::close(worker->wake_fd);
  delete worker;
}

void signal_wake_fd(Worker* worker) {
  const std::uint64_t one = 1;
  // A counter that is already non-zero stays readable: nothing is lost when
  // the write cannot add to it.
  [[maybe_unused]] const ssize_t written = ::write(worker->wake_fd, &one, sizeof one);
}

void* run_worker(void* worker) {
  auto* self = static_cast<Worker*>(worker);
  self->body(self);
  return nullptr;
}

}  // namespace

Worker* worker_start(WorkerBody body) {
  auto* worker = new (std::nothrow) Worker(body);
  if (!worker) return nullptr;
  worker->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (worker->wake_fd < 0) {
    delete worker;
    return nullptr;
  }
  // The thread starts with every signal blocked: a signal sent to the process
  // must reach one of the client's threads (say the one in sigwait), never
  // ours, where its default action would end the process. A new thread
  // inherits the creating thread's mask, so block all around the creation.
  sigset_t all, callers;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &callers);
  const bool started = pthread_create(&worker->thread, nullptr, run_worker, worker) == 0;
  pthread_sigmask(SIG_SETMASK, &callers, nullptr);
  if (!started) {
    delete_worker(worker);
    return nullptr;
  }
  return worker;
}

bool worker_pause(Worker* self, std::uint32_t milliseconds) {
  // Cancelled only inside a pass (see worker_stop), never in this wait, which
  // must not be unwound.
  int cancel_state = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state);
  struct RestoreCancelState {
    int state;
    ~RestoreCancelState() { pthread_setcancelstate(state, nullptr); }
  } restore{cancel_state};
  std::unique_lock lock(self->mutex);
  const auto stop_asked = [self] { return self->stop_asked; };
  if (milliseconds == kInfinite) {
    self->wake.wait(lock, stop_asked);
    return true;
  }
  return self->wake.wait_for(lock, std::chrono::milliseconds(milliseconds), stop_asked);
}

bool worker_wait(Worker* self, const WaitableHandle* sources, std::size_t count,
                 std::uint32_t milliseconds) {
  int cancel_state = 0;
  pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &cancel_state);
  pollfd polled[kMostWaitSources + 1];
  count = count < kMostWaitSources ? count : kMostWaitSources;
  for (std::size_t i = 0; i < count; ++i) polled[i] = {sources[i], POLLIN, 0};
  polled[count] = {self->wake_fd, POLLIN, 0};
  const int timeout = milliseconds == kInfinite ? -1 : static_cast<int>(milliseconds);
  if (::poll(polled, count + 1, timeout) > 0 && polled[count].revents) {
    std::uint64_t taken = 0;
    [[maybe_unused]] const ssize_t read = ::read(self->wake_fd, &taken, sizeof taken);
  }
  bool stop = false;
  {
    std::lock_guard lock(self->mutex);
    stop = self->stop_asked;
  }
  pthread_setcancelstate(cancel_state, nullptr);
  return stop;
}

void worker_wake(Worker* self) {
  signal_wake_fd(self);
}

bool worker_stop(Worker* worker, bool process_exiting) {
  {
    std::lock_guard lock(worker->mutex);
    worker->stop_asked = true;
  }
  worker->wake.notify_all();
  signal_wake_fd(worker);

  if (!process_exiting && join_within_bound(worker)) {
    delete_worker(worker);
    return true;
  }
  if (!process_exiting) {
    // The thread is stuck in a call that does not come back (a capture
    // library blocked on a read): the library cannot be kept mapped from
    // here, since the loader has decided to unmap it before this runs, so the
    // thread is cancelled where it waits, which is a cancellation point. Once
    // it is joined no instruction of ours runs any more and the code may go;
    // the state it was changing, perhaps holding globalLock, must be left.
    pthread_cancel(worker->thread);
    if (join_within_bound(worker)) {
      delete_worker(worker);
      return false;
    }
  }
  // The thread may still be running and will read *worker in worker_pause on
  // its way out: freeing it now could crash the process, so it is left
  // allocated for good. Detached, the thread's own resources go when it ends.
  pthread_detach(worker->thread);
  return false;
}

}  // namespace pkdv::sys
