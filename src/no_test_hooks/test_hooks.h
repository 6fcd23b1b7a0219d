// The shipped library's test hooks: none. Test builds compile the same
// sources against tests/hooks/test_hooks.h; here every hook point is a
// constant the compiler folds away, so no hook reaches the shipped code or
// its symbols.
#pragma once

#include "platform/platform.h"

namespace pkdv::test_hooks {

constexpr void allocation_made() {}
constexpr void allocation_released() {}
constexpr bool queueing_fails() {
  return false;
}
constexpr bool version_decided_by_test(sys::VersionInfo*, bool*) {
  return false;
}

}  // namespace pkdv::test_hooks
