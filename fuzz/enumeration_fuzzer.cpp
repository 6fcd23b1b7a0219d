// The enumeration copy with any adapter list: any names and descriptions
// (long, empty, missing, with the hidden-adapter text anywhere). The walk must
// report exactly the adapters not hidden, in order, each text cut to 259
// characters and terminated, never touch the reserved text, and leave the
// record alone once it answers 50. Each record is a block of exactly its
// size, so the address sanitizer reports any write past it.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "adapter/enumeration.h"
#include "doubles/scripted_capture.h"
#include "fuzz_input.h"
#include "pkdv.h"

using pkdv::fuzzing::expect;
using pkdv::fuzzing::FuzzInput;
using pkdv::testing::ScriptedCapture;
using pkdv::testing::ScriptedDevice;

namespace {

constexpr char kHidden[] = "MS Tunnel Interface Driver";
constexpr std::size_t kMostText = 600;
constexpr std::size_t kKept = 259;
constexpr std::uint8_t kUntouched = 0xCC;

std::string text(FuzzInput& in, bool may_hide) {
  const auto bytes = in.bytes(in.take<std::uint16_t>() % kMostText);
  std::string s(bytes.begin(), bytes.end());
  if (may_hide) s.insert(std::min<std::size_t>(in.take<std::uint16_t>(), s.size()), kHidden);
  return s;
}

// What the library sees of a text: up to its first NUL.
std::string seen(const std::string& s) {
  return std::string(s.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  auto& capture = ScriptedCapture::get();
  capture.reset();
  capture.list_fails = in.take<std::uint8_t>() % 16 == 0;
  const int count = in.take<std::uint8_t>() % 8;
  std::vector<ScriptedDevice> shown;
  for (int i = 0; i < count; ++i) {
    const auto flags = in.take<std::uint8_t>();
    ScriptedDevice device;
    device.name = text(in, false);
    device.has_description = (flags & 1) == 0;
    device.description = text(in, (flags & 6) == 6);
    capture.devices.push_back(device);
    const std::string description = device.has_description ? seen(device.description) : "";
    if (description.find(kHidden) == std::string::npos) shown.push_back(device);
  }
  if (capture.list_fails) shown.clear();

  const auto block = std::make_unique<std::uint8_t[]>(sizeof(AdapterRegistryInfo));
  auto* info = reinterpret_cast<AdapterRegistryInfo*>(block.get());
  std::fill_n(block.get(), sizeof(AdapterRegistryInfo), kUntouched);
  std::uint32_t result = PKDV_GetFirstAdapterRegistryInfo(info);
  for (const ScriptedDevice& device : shown) {
    expect(result == NDIS_STATUS_SUCCESS);
    const std::string name = seen(device.name).substr(0, kKept);
    const std::string description =
        device.has_description ? seen(device.description).substr(0, kKept) : "";
    expect(std::memchr(info->name, '\0', sizeof info->name) != nullptr);
    expect(std::memchr(info->description, '\0', sizeof info->description) != nullptr);
    expect(name == info->name);
    expect(description == info->description);
    expect(std::all_of(info->reserved, info->reserved + sizeof info->reserved,
                       [](char c) { return static_cast<std::uint8_t>(c) == kUntouched; }));
    result = PKDV_GetNextAdapterRegistryInfo(info);
  }
  expect(result == ERROR_NOT_SUPPORTED);
  const std::vector<std::uint8_t> after_end(block.get(), block.get() + sizeof(AdapterRegistryInfo));
  expect(PKDV_GetNextAdapterRegistryInfo(info) == ERROR_NOT_SUPPORTED);
  expect(std::equal(after_end.begin(), after_end.end(), block.get()));
  pkdv::release_adapter_list();
  // An empty list is no list at all: nothing to free.
  expect(capture.devices.empty() || capture.lists_made == capture.lists_freed);
  return 0;
}
