#include "engine/thread_table.h"

#include <iterator>
#include <new>

#include "engine/allocation.h"
#include "engine/engine.h"
#include "engine/entry_gate.h"
#include "engine/poller.h"

namespace pkdv::engine {

namespace {
// Heap-allocated and released explicitly at unload rather than a static
// object, so no static destructor can tear it down under a running poller.
EngineState* engine_state = nullptr;
}  // namespace

EngineState& state() {
  return *engine_state;
}
bool state_built() {
  return engine_state != nullptr;
}

void build_state() {
  engine_state = new EngineState;
  sys::lock_init(&engine_state->globalLock);
  open_gate();
}

void forget_parent_after_fork() {
  forget_poller_after_fork();
  forget_kept_requests_after_fork();
  build_state();
  engine_state->start_poller_on_first_read = true;
}

void destroy_state() {
  if (!engine_state) return;
  drop_kept_requests();
  sys::lock_delete(&engine_state->globalLock);
  delete engine_state;
  engine_state = nullptr;
}

ThreadRecord* find_record(sys::ThreadId id) {
  auto& table = state().table;
  auto entry = table.find(id);
  return entry == table.end() ? nullptr : entry->second;
}

ThreadRecord* create_record(sys::ThreadId id) {
  ThreadRecord* record = new_record();
  if (!record) return nullptr;
  sys::lock_init(&record->lock);
  record->token = sys::event_create_signalled();
  record->thread = sys::thread_open_current();
  bool inserted = false;
  if (record->token && record->thread) {
    try {
      inserted = state().table.emplace(id, record).second;
    } catch (const std::bad_alloc&) {
      inserted = false;
    }
  }
  if (!inserted) {
    if (record->token) sys::event_close(record->token);
    if (record->thread) sys::thread_close(record->thread);
    sys::lock_delete(&record->lock);
    free_record(record);
    return nullptr;
  }
  record->serial = state().next_serial++;
  return record;
}

ThreadTable::iterator destroy_record(ThreadTable::iterator entry) {
  ThreadRecord* record = entry->second;
  record->pending.destroy_with_requests();
  record->completed.destroy_with_requests();
  sys::event_close(record->token);
  sys::thread_close(record->thread);
  sys::lock_delete(&record->lock);
  free_record(record);
  return state().table.erase(entry);
}

ThreadTable::iterator clear_if_thread_ended(ThreadTable::iterator entry) {
  if (sys::thread_has_ended(entry->second->thread)) return destroy_record(entry);
  return std::next(entry);
}

}  // namespace pkdv::engine
