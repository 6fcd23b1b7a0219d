#include "adapter_fixture.h"

#include <string>

#include "adapter/enumeration.h"
#include "engine/engine.h"

namespace pkdv::testing {

RoutineLog& RoutineLog::get() {
  static RoutineLog log;
  return log;
}

void RoutineLog::clear() {
  calls.clear();
  on_call = nullptr;
}

void PKDV_CALLBACK record_nt_form(std::uint32_t status, std::uint32_t count,
                                  std::uintptr_t context) {
  auto& log = RoutineLog::get();
  log.calls.push_back({3, status, count, context, sys::current_thread_id()});
  if (log.on_call) log.on_call();
}

void AdapterTest::SetUp() {
  capture_.reset();
  routines_.clear();
  release_adapter_list();
  engine::build_state();
}

void AdapterTest::TearDown() {
  sys::wait_alertable(0);
  engine::clear_map(false);
  engine::destroy_state();
  release_adapter_list();
  routines_.clear();
}

AdapterHandle AdapterTest::open_adapter(const char* name) {
  capture::Handle* h = capture_.add_adapter(name);
  std::string text = name;
  EXPECT_EQ(PKDV_OpenAdapterA(text.data()), handle(h));
  return handle(h);
}

}  // namespace pkdv::testing
