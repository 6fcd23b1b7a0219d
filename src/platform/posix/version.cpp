#include "platform/platform.h"
#include "test_hooks.h"

namespace pkdv::sys {

namespace {
// Linux stands in for a current member of the NT line.
constexpr VersionInfo kReportedVersion{2, 10, 0};
}  // namespace

bool query_version(VersionInfo* out) {
  if (!out) return false;
  bool succeeds = true;
  if (test_hooks::version_decided_by_test(out, &succeeds)) return succeeds;
  *out = kReportedVersion;
  return true;
}

}  // namespace pkdv::sys
