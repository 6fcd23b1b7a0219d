// The capture handles a backend has open, and what it learned about each at
// open (its name, its driver, ...): the capture libraries keep nothing we
// could read back. Whether a handle is open is asked for every read posted,
// so the first handles opened while one of a few quick slots was free are
// found there without any lock; the others, and every record, are looked up
// in the table under its lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <map>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace pkdv::capture {

// Held only to search or change a table, so a thread that finds it taken
// yields until it is free; taking a free one is an exchange, where a mutex is
// two calls into the thread library on every post.
class TableLock {
 public:
  void lock() {
    while (held_.exchange(true, std::memory_order_acquire)) std::this_thread::yield();
  }
  void unlock() { held_.store(false, std::memory_order_release); }

 private:
  std::atomic<bool> held_{false};
};

// `Native` is the capture library's handle type; a default `Record` is what
// forget gives for a handle that is not open.
template <typename Native, typename Record>
class OpenHandleTable {
 public:
  // The backend's one table, built in static storage at first use and never
  // destroyed: a client may close its adapters from its own static
  // destructors, which can run after ours.
  static OpenHandleTable& instance() {
    alignas(OpenHandleTable) static unsigned char storage[sizeof(OpenHandleTable)];
    static OpenHandleTable* const table = new (storage) OpenHandleTable;
    return *table;
  }

  // False, with nothing remembered, when there is no memory for the entry:
  // such a handle cannot be told from one that is not open, and must not be
  // handed out.
  bool remember(Native* p, Record record) {
    std::lock_guard guard(lock_);
    try {
      records_[p] = std::move(record);
    } catch (const std::bad_alloc&) {
      return false;
    }
    for (auto& slot : quick_) {
      if (slot.load(std::memory_order_relaxed) != nullptr) continue;
      slot.store(p, std::memory_order_release);
      break;
    }
    return true;
  }

  // Takes the record out, so that what it holds (a driver, a reader thread)
  // ends outside the lock.
  Record forget(Native* p) {
    std::lock_guard guard(lock_);
    for (auto& slot : quick_)
      if (slot.load(std::memory_order_relaxed) == p) slot.store(nullptr, std::memory_order_release);
    Record record{};
    if (auto it = records_.find(p); it != records_.end()) {
      record = std::move(it->second);
      records_.erase(it);
    }
    return record;
  }

  // The record stays in place until forget, so the pointers it hands out
  // live as long as the handle is open. nullptr for a handle not open.
  const Record* find(Native* p) {
    std::lock_guard guard(lock_);
    auto it = records_.find(p);
    return it == records_.end() ? nullptr : &it->second;
  }

  // A handle found in a quick slot is open: each is put in one once
  // remembered and taken out before it is forgotten, under the lock. Static,
  // so asking needs no test of whether the table has been built yet.
  static bool in_quick_slot(Native* p) {
    for (const auto& slot : quick_)
      if (slot.load(std::memory_order_acquire) == p) return true;
    return false;
  }

  // Held across fork(), so that a child never inherits the table half-changed
  // or its lock owned by a thread it does not have. Nobody waits for anything
  // else while holding the lock, so holding it cannot deadlock the fork.
  void hold_for_fork() { lock_.lock(); }
  void release_after_fork() { lock_.unlock(); }

  // Calls `visit` with every handle still open and its record.
  template <typename Visit>
  void for_each(Visit visit) {
    std::lock_guard guard(lock_);
    for (auto& [p, record] : records_) visit(p, record);
  }

 private:
  OpenHandleTable() = default;

  TableLock lock_;
  static constexpr std::size_t kQuickSlots = 8;
  inline static std::atomic<Native*> quick_[kQuickSlots] = {};
  // An empty map holds no memory: once the client has closed every handle,
  // unloading leaves nothing of the table allocated.
  std::map<Native*, Record> records_;
};

}  // namespace pkdv::capture
