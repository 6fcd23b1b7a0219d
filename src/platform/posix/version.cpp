#include <mutex>

#include "platform/platform.h"
#include "version_hook.h"

namespace pkdv::sys {

namespace {

// Linux stands in for a current member of the NT line.
constexpr VersionInfo kReportedVersion{2, 10, 0};

// Read by the poller and client threads while a test may change it.
std::mutex version_mutex;
VersionInfo reported_version = kReportedVersion;
bool version_query_fails = false;

}  // namespace

bool query_version(VersionInfo* out) {
  std::lock_guard lock(version_mutex);
  if (!out || version_query_fails) return false;
  *out = reported_version;
  return true;
}

void set_version_for_testing(const VersionInfo* version) {
  std::lock_guard lock(version_mutex);
  version_query_fails = !version;
  if (version) reported_version = *version;
}

void reset_version_for_testing() {
  std::lock_guard lock(version_mutex);
  version_query_fails = false;
  reported_version = kReportedVersion;
}

}  // namespace pkdv::sys
