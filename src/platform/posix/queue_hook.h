// Lets tests make the queueing of asynchronous calls fail, as it does when the
// target thread's queue cannot grow. Internal: not exported from the shared
// library.
#pragma once

namespace pkdv::sys {

// The next `count` calls of thread_queue_apc fail without queueing anything;
// 0 makes them succeed again.
void fail_apc_queueing_for_testing(int count);

}  // namespace pkdv::sys
