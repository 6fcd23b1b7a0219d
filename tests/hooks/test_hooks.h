// Test hooks: the points where a test build of the library can be made to
// fail as it would under pressure, and the controls the tests use. Only test
// builds have them; the shipped library is compiled against
// src/no_test_hooks/test_hooks.h, where every point is a constant.
#pragma once

#include "platform/platform.h"

// The hook points, consulted by the library's code.
namespace pkdv::test_hooks {

// The engine's allocations (requests and records), counted. Failing ones
// come from the failing heap (tests/fault/failing_heap.h).
void allocation_made();
void allocation_released();
// POSIX: queueing an asynchronous call to a thread.
bool queueing_fails();
// POSIX: the version query. True when a test decides the answer: then
// `*succeeds` says whether the query succeeds, and `*answer` holds the version.
bool version_decided_by_test(sys::VersionInfo* answer, bool* succeeds);

}  // namespace pkdv::test_hooks

namespace pkdv::engine {
// Requests and records currently allocated, for leak accounting.
long live_allocations();
}  // namespace pkdv::engine

namespace pkdv::sys {
// The next `count` queueings of an asynchronous call fail, as they do when
// the target thread's queue cannot grow; 0 makes them succeed again.
void fail_apc_queueing_for_testing(int count);
// The version query reports `*version` from now on; nullptr makes it fail.
void set_version_for_testing(const VersionInfo* version);
// Back to the platform's own answer.
void reset_version_for_testing();
}  // namespace pkdv::sys
