// pkdv.dll's 8-bit truth values as a client reads them that declared the
// exports as returning a 32-bit BOOL: every bit of the result register counts.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "dll_client.h"

namespace pkdv::testing {
namespace {

using CloseAsBool = BOOL(PKDV_CALL*)(AdapterHandle adapter);
using FilterAsBool = BOOL(PKDV_CALL*)(AdapterHandle adapter, const void* instructions,
                                      std::uint32_t length);

template <typename Function>
Function as_bool_export(HMODULE dll, const char* name) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(dll, name)));
}

TEST(TruthValues, FillAllThirtyTwoBits) {
  DllClient dll;
  ASSERT_TRUE(dll.load());
  const auto set_filter = as_bool_export<FilterAsBool>(dll.module, "PKDV_SetBPFProgram");
  const auto close = as_bool_export<CloseAsBool>(dll.module, "PKDV_CloseAdapter");
  char name[] = "rpcap://fake0";
  const AdapterHandle adapter = dll.open(name);
  ASSERT_NE(adapter, PKDV_INVALID_ADAPTER);

  const std::uint32_t accept_all[2] = {0x06, 0xFFFF};  // BPF_RET|BPF_K 65535
  EXPECT_EQ(set_filter(adapter, accept_all, 8), 1);
  // Refused (no instruction): the failure that used to leave the capture
  // library's -1 in the upper bits.
  EXPECT_EQ(set_filter(adapter, accept_all, 7), 0);
  EXPECT_EQ(set_filter(adapter, nullptr, 8), 0);
  EXPECT_EQ(set_filter(PKDV_INVALID_ADAPTER, accept_all, 8), 0);
  EXPECT_EQ(close(adapter), 1);
  EXPECT_EQ(close(PKDV_INVALID_ADAPTER), 1);
  dll.unload();
}

}  // namespace
}  // namespace pkdv::testing
