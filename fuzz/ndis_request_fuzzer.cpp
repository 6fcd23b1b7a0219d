// NDIS requests with any record, any lengths and any driver answer (result,
// error, returned byte count, bytes written back), through the scripted
// driver. The information buffer is allocated with exactly its declared
// length, so the address sanitizer reports any access past it.
#include <algorithm>
#include <memory>

#include "doubles/scripted_capture.h"
#include "fuzz_input.h"
#include "pkdv.h"
#include "platform/platform.h"

using pkdv::fuzzing::expect;
using pkdv::fuzzing::FuzzInput;
using pkdv::testing::DriverReply;
using pkdv::testing::ScriptedCapture;

namespace {

constexpr std::uint32_t kMostLength = 4096;
constexpr std::uint8_t kUntouched = 0xEE;
constexpr std::uint32_t kUnwrittenCount = 0xA5A5A5A5u;

pkdv::capture::Handle* with_driver = nullptr;
pkdv::capture::Handle* without_driver = nullptr;

pkdv::capture::Handle* open_scripted(const char* name) {
  pkdv::capture::Handle* handle = ScriptedCapture::get().add_adapter(name);
  char error[pkdv::capture::kErrorBufferSize];
  pkdv::capture::open(name, 65536, 0, 1, error);
  return handle;
}

AdapterHandle pick_adapter(std::uint8_t choice) {
  switch (choice % 8) {
    case 0:
      return 0;
    case 1:
      return PKDV_INVALID_ADAPTER;
    case 2:
      return reinterpret_cast<AdapterHandle>(without_driver);
    default:
      return reinterpret_cast<AdapterHandle>(with_driver);
  }
}

std::uint32_t pick_type(std::uint8_t choice, std::uint32_t any) {
  if (choice < 110) return PKDV_NDIS_REQUEST_QUERY;
  if (choice < 220) return PKDV_NDIS_REQUEST_SET;
  return any;
}

DriverReply pick_reply(FuzzInput& in) {
  DriverReply reply;
  const auto flags = in.take<std::uint8_t>();
  reply.ok = flags & 1;
  reply.completes_ok = flags & 2;
  reply.error = (flags & 4) ? pkdv::sys::kErrorIoPending : in.take<std::uint32_t>();
  reply.returned = in.take<std::uint32_t>();
  reply.answer = in.bytes(in.take<std::uint16_t>() % (kMostLength + 64));
  return reply;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  ScriptedCapture::get().reset();
  with_driver = open_scripted("eth0");
  without_driver = open_scripted("nodriver");
  ScriptedCapture::get().adapter(without_driver).has_driver = false;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  FuzzInput in(data, size);
  const AdapterHandle adapter = pick_adapter(in.take<std::uint8_t>());
  const auto layout = in.take<std::uint8_t>();
  NdisRequestRecord record{};
  const auto type_choice = in.take<std::uint8_t>();
  record.request_type = pick_type(type_choice, in.take<std::uint32_t>());
  record.oid = in.take<std::uint32_t>();
  record.bytes_written = record.bytes_needed = kUnwrittenCount;
  std::uint32_t length = in.take<std::uint16_t>() % (kMostLength + 1);
  auto information = std::make_unique<std::uint8_t[]>(length);
  std::fill_n(information.get(), length, kUntouched);
  record.information_buffer = information.get();
  record.information_buffer_length = length;
  if (layout % 5 == 0) {
    record.information_buffer = nullptr;  // with or without a length
  } else if (layout % 5 == 1) {
    // A length no buffer could have: refused before anything is read.
    record.information_buffer_length = UINT32_MAX - (in.take<std::uint8_t>() % 12);
  }
  const std::uint8_t wait = in.take<std::uint8_t>() % 4;
  const bool null_record = layout % 7 == 6;
  auto& scripted = ScriptedCapture::get().adapter(with_driver);
  scripted.driver_replies.clear();
  scripted.driver_calls.clear();
  scripted.driver_replies.push_back(pick_reply(in));
  int overlapped = 0;

  const std::uint32_t result =
      PKDV_MakeNdisRequest(adapter, null_record ? nullptr : &record, &overlapped, wait);

  expect(result == NDIS_STATUS_SUCCESS || result == PKDV_NDIS_STATUS_NO_DATA ||
         result == ERROR_NOT_SUPPORTED || result == NDIS_STATUS_FAILURE ||
         result == NDIS_STATUS_ADAPTER_NOT_READY || result == NDIS_STATUS_INVALID_DATA);
  const bool wrote_back = record.bytes_written != kUnwrittenCount;
  if (wrote_back) {
    // Only a query that got bytes back writes: no more than the buffer holds.
    expect(result == NDIS_STATUS_SUCCESS && record.request_type == PKDV_NDIS_REQUEST_QUERY);
    expect(record.bytes_written == record.bytes_needed);
    expect(record.bytes_written <= (record.information_buffer ? length : 0));
  } else {
    expect(record.bytes_needed == kUnwrittenCount);
  }
  const std::uint32_t written = wrote_back ? record.bytes_written : 0;
  expect(std::all_of(information.get() + written, information.get() + length,
                     [](std::uint8_t b) { return b == kUntouched; }));
  return 0;
}
