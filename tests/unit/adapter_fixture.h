// Shared set-up for the adapter function tests: the scripted capture double,
// the read engine's state (closing an adapter reaches into it), a clean
// enumeration state, and a log of completion routine calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <vector>

#include "doubles/scripted_capture.h"
#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv::testing {

struct RoutineCall {
  int arguments;  // 3: NT form, 1: 95 form
  std::uint32_t status;
  std::uint32_t count;
  std::uintptr_t context;
  sys::ThreadId thread;
};

// Every call of the recording routine, in order.
class RoutineLog {
 public:
  static RoutineLog& get();
  void clear();
  std::vector<RoutineCall> calls;
  // Runs inside the routine, after the call was logged.
  std::function<void()> on_call;
};

void PKDV_CALLBACK record_nt_form(std::uint32_t status, std::uint32_t count,
                                  std::uintptr_t context);

// A probe called as a client that reads the whole 32-bit result register.
inline std::uint32_t whole_result(uint8_t(PKDV_CALL* probe)()) {
  using Whole = std::uint32_t(PKDV_CALL*)();
  return reinterpret_cast<Whole>(reinterpret_cast<void (*)()>(probe))();
}

class AdapterTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // An adapter the double opens under `name`, opened through the export.
  AdapterHandle open_adapter(const char* name);
  static capture::Handle* capture_handle(AdapterHandle adapter) {
    return reinterpret_cast<capture::Handle*>(adapter);
  }
  static AdapterHandle handle(capture::Handle* h) { return reinterpret_cast<AdapterHandle>(h); }

  ScriptedCapture& capture_ = ScriptedCapture::get();
  RoutineLog& routines_ = RoutineLog::get();
};

}  // namespace pkdv::testing
