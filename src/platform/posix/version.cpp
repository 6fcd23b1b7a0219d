#include <atomic>
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
// Set while a test's report is in force. Every completion routine call asks
// for the version, so the usual answer is given without taking the mutex.
std::atomic<bool> version_overridden{false};

}  // namespace

bool query_version(VersionInfo* out) {
  if (!out) return false;
  if (!version_overridden.load(std::memory_order_acquire)) {
    *out = kReportedVersion;
    return true;
  }
  std::lock_guard lock(version_mutex);
  if (version_query_fails) return false;
  *out = reported_version;
  return true;
}

void set_version_for_testing(const VersionInfo* version) {
  std::lock_guard lock(version_mutex);
  version_query_fails = !version;
  if (version) reported_version = *version;
  version_overridden.store(true, std::memory_order_release);
}

void reset_version_for_testing() {
  std::lock_guard lock(version_mutex);
  version_query_fails = false;
  reported_version = kReportedVersion;
  version_overridden.store(false, std::memory_order_release);
}

}  // namespace pkdv::sys
