// The library's background thread with a stop request it can wait on.
#include <pthread.h>
#include <time.h>

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
};

namespace {

// Long enough for a pass of the poller to finish, short enough that an unload
// never hangs on a worker that is stuck.
constexpr int kJoinBoundSeconds = 5;

void* run_worker(void* worker) {
  auto* self = static_cast<Worker*>(worker);
  self->body(self);
  return nullptr;
}

}  // namespace

Worker* worker_start(WorkerBody body) {
  auto* worker = new (std::nothrow) Worker(body);
  if (!worker) return nullptr;
  if (pthread_create(&worker->thread, nullptr, run_worker, worker) != 0) {
    delete worker;
    return nullptr;
  }
  return worker;
}

bool worker_pause(Worker* self, std::uint32_t milliseconds) {
  std::unique_lock lock(self->mutex);
  const auto stop_asked = [self] { return self->stop_asked; };
  if (milliseconds == kInfinite) {
    self->wake.wait(lock, stop_asked);
    return true;
  }
  return self->wake.wait_for(lock, std::chrono::milliseconds(milliseconds), stop_asked);
}

bool worker_stop(Worker* worker, bool process_exiting) {
  {
    std::lock_guard lock(worker->mutex);
    worker->stop_asked = true;
  }
  worker->wake.notify_all();

  bool joined = false;
  if (!process_exiting) {
    // The wall-clock form, which thread sanitizers know as a join. Fails at
    // once when called from the worker itself (EDEADLK).
    timespec deadline{};
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += kJoinBoundSeconds;
    joined = pthread_timedjoin_np(worker->thread, nullptr, &deadline) == 0;
  }
  if (joined) {
    delete worker;
    return true;
  }
  // The thread may still be running and will read *worker in worker_pause on
  // its way out: freeing it now could crash the process, so it is left
  // allocated for good. Detached, the thread's own resources go when it ends.
  pthread_detach(worker->thread);
  return false;
}

}  // namespace pkdv::sys
