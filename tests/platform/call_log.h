// What the calls a test queues to threads saw when they ran: their parameter
// and the thread they ran in, in the order they ran.
#pragma once

#include <mutex>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace pkdv::sys {

using CallRun = std::pair<std::uintptr_t, ThreadId>;

inline std::mutex runs_mutex;
inline std::vector<CallRun> runs;

// A queued call that logs its run.
inline void PKDV_CALLBACK record_run(std::uintptr_t parameter) {
  std::lock_guard lock(runs_mutex);
  runs.emplace_back(parameter, current_thread_id());
}

// The runs logged since the last take, oldest first.
inline std::vector<CallRun> take_runs() {
  std::lock_guard lock(runs_mutex);
  return std::exchange(runs, {});
}

}  // namespace pkdv::sys
