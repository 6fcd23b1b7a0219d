// Opening an adapter by any bytes as its name. The name sits in a block of
// exactly its bytes and terminator, so the address sanitizer reports any
// access past it. The open changes the caller's text only by removing a
// leading "\Device\"; it answers -1 or the handle of an adapter by that name.
#include <cstring>
#include <memory>
#include <string>

#include "doubles/scripted_capture.h"
#include "engine/engine.h"
#include "fuzz_input.h"
#include "pkdv.h"

using pkdv::fuzzing::expect;
using pkdv::testing::ScriptedCapture;

namespace {

constexpr char kPrefix[] = "\\Device\\";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;

// Names the double opens; the fuzzer finds them from the corpus.
const char* const kKnownNames[] = {"eth0", "NPF_{0A1B2C3D}", "rpcap://eth0", ""};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  pkdv::engine::build_state();  // closing retires the handle's reads
  ScriptedCapture::get().reset();
  for (const char* name : kKnownNames) ScriptedCapture::get().add_adapter(name);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto name = std::make_unique<char[]>(size + 1);
  std::memcpy(name.get(), data, size);
  name[size] = '\0';
  const std::string given(name.get());  // what the library sees: up to the first NUL
  const bool prefixed = given.compare(0, kPrefixLength, kPrefix) == 0;
  const std::string opened = prefixed ? given.substr(kPrefixLength) : given;
  ScriptedCapture::get().opens.clear();

  const AdapterHandle adapter = PKDV_OpenAdapterA(name.get());

  // The caller's text as it must be now: the name moved to the front, every
  // byte past its new terminator as it was.
  std::string expected(reinterpret_cast<const char*>(data), size);
  expected.push_back('\0');
  if (prefixed) std::memcpy(expected.data(), opened.c_str(), opened.size() + 1);
  expect(std::memcmp(name.get(), expected.data(), size + 1) == 0);
  auto& capture = ScriptedCapture::get();
  expect(capture.opens.size() == 1 && capture.opens[0].source == opened);
  if (adapter == PKDV_INVALID_ADAPTER) return 0;
  expect(std::strcmp(pkdv::capture::adapter_name(reinterpret_cast<pkdv::capture::Handle*>(adapter)),
                     opened.c_str()) == 0);
  expect(PKDV_CloseAdapter(adapter) == 1);
  return 0;
}
