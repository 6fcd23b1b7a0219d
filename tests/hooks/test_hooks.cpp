#include "test_hooks.h"

#include <atomic>
#include <mutex>

namespace pkdv {

namespace {

std::atomic<long> live{0};
std::atomic<int> queueings_to_fail{0};

// Read by the poller and client threads while a test may change it.
std::mutex version_mutex;
bool version_overridden = false;
bool version_query_fails = false;
sys::VersionInfo reported_version{};

// Counts `left` down to 0; true for every call that takes one off.
bool take_one(std::atomic<int>& left) {
  int now = left.load(std::memory_order_relaxed);
  while (now > 0) {
    if (left.compare_exchange_weak(now, now - 1)) return true;
  }
  return false;
}

}  // namespace

void test_hooks::allocation_made() {
  live.fetch_add(1, std::memory_order_relaxed);
}
void test_hooks::allocation_released() {
  live.fetch_sub(1, std::memory_order_relaxed);
}
bool test_hooks::queueing_fails() {
  return take_one(queueings_to_fail);
}
bool test_hooks::version_decided_by_test(sys::VersionInfo* answer, bool* succeeds) {
  std::lock_guard lock(version_mutex);
  if (!version_overridden) return false;
  *succeeds = !version_query_fails;
  if (*succeeds) *answer = reported_version;
  return true;
}

long engine::live_allocations() {
  return live.load();
}

void sys::fail_apc_queueing_for_testing(int count) {
  queueings_to_fail.store(count);
}
void sys::set_version_for_testing(const VersionInfo* version) {
  std::lock_guard lock(version_mutex);
  version_overridden = true;
  version_query_fails = !version;
  if (version) reported_version = *version;
}
void sys::reset_version_for_testing() {
  std::lock_guard lock(version_mutex);
  version_overridden = false;
}

}  // namespace pkdv
