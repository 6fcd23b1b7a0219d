// OID queries and sets against the scripted driver: the buffer the driver is
// handed, what comes back into the client's record, and the result codes.
#include <cstring>
#include <vector>

#include "adapter_fixture.h"

namespace pkdv::testing {
namespace {

constexpr std::uint32_t kQueryCode = 0x80000004u;
constexpr std::uint32_t kSetCode = 0x80000000u;
constexpr std::uint32_t kErrorGenFailure = 31;  // the double's failed overlapped wait
constexpr std::uint8_t kUntouched = 0xEE;

// The client's side: the record and an information buffer with guard bytes
// after its declared length.
struct Request {
  Request(std::uint32_t type, std::uint32_t oid, std::uint32_t length)
      : bytes(length + 16, kUntouched) {
    std::memset(&record, 0, sizeof record);
    record.request_type = type;
    record.oid = oid;
    record.information_buffer = bytes.data();
    record.information_buffer_length = length;
    record.bytes_written = 0xAAAA;
    record.bytes_needed = 0xBBBB;
  }
  bool untouched() const {
    for (std::uint8_t b : bytes) {
      if (b != kUntouched) return false;
    }
    return record.bytes_written == 0xAAAA && record.bytes_needed == 0xBBBB;
  }
  NdisRequestRecord record;
  std::vector<std::uint8_t> bytes;
};

class NdisRequestTest : public AdapterTest {
 protected:
  void SetUp() override {
    AdapterTest::SetUp();
    adapter_ = open_adapter("eth0");
  }
  ScriptedAdapter& scripted() { return capture_.adapter(capture_handle(adapter_)); }
  void reply(DriverReply r) { scripted().driver_replies.push_back(std::move(r)); }
  std::uint32_t make(Request& request, std::uint8_t wait = 1) {
    return PKDV_MakeNdisRequest(adapter_, &request.record, &overlapped_, wait);
  }

  AdapterHandle adapter_ = PKDV_INVALID_ADAPTER;
  int overlapped_ = 0;
};

// What the scripted driver does with the next call.
DriverReply answers(std::uint32_t returned, std::vector<std::uint8_t> bytes = {}) {
  DriverReply reply;
  reply.returned = returned;
  reply.answer = std::move(bytes);
  return reply;
}

DriverReply pends_then(bool completes_ok, std::uint32_t returned,
                       std::vector<std::uint8_t> bytes = {}) {
  DriverReply reply = answers(returned, std::move(bytes));
  reply.ok = false;
  reply.error = sys::kErrorIoPending;
  reply.completes_ok = completes_ok;
  return reply;
}

DriverReply refuses(std::uint32_t error) {
  DriverReply reply;
  reply.ok = false;
  reply.error = error;
  return reply;
}

std::vector<std::uint8_t> le32(std::uint32_t v) {
  return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
          static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}

TEST_F(NdisRequestTest, TheDriverGetsOidLengthAndDataWithElevenBytesOfOverhead) {
  Request query(PKDV_NDIS_REQUEST_QUERY, 0x00010101, 4);
  std::memcpy(query.bytes.data(), "\x01\x02\x03\x04", 4);
  Request set(PKDV_NDIS_REQUEST_SET, 0x0001010E, 0);
  set.record.information_buffer = nullptr;
  make(query);
  make(set);

  const auto& calls = scripted().driver_calls;
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[0].code, kQueryCode);
  EXPECT_EQ(calls[0].size, 15u);
  std::vector<std::uint8_t> expected = le32(0x00010101);
  for (std::uint8_t b : le32(4)) expected.push_back(b);
  for (std::uint8_t b : {1, 2, 3, 4, 0, 0, 0}) expected.push_back(b);
  EXPECT_EQ(calls[0].input, expected) << "a query hands over the client's bytes too";
  EXPECT_EQ(calls[0].overlapped, &overlapped_);
  EXPECT_EQ(calls[1].code, kSetCode);
  EXPECT_EQ(calls[1].size, 11u);
}

// What the driver returns is copied and counted, up to the buffer's length.
TEST_F(NdisRequestTest, AQueryCopiesAndCountsTheReturnedBytesCutToTheBuffersLength) {
  Request fits(PKDV_NDIS_REQUEST_QUERY, 0x01010102, 8);
  reply(answers(6, {0x02, 0, 0, 0, 0, 1}));
  EXPECT_EQ(make(fits), 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(fits.bytes.begin(), fits.bytes.begin() + 6),
            (std::vector<std::uint8_t>{0x02, 0, 0, 0, 0, 1}));
  EXPECT_EQ(fits.bytes[6], kUntouched);
  EXPECT_EQ(fits.record.bytes_written, 6u);
  EXPECT_EQ(fits.record.bytes_needed, 6u);

  Request too_small(PKDV_NDIS_REQUEST_QUERY, 0x00010101, 4);
  reply(answers(100, {1, 2, 3, 4, 5, 6, 7}));
  EXPECT_EQ(make(too_small), 0u);
  EXPECT_EQ(std::vector<std::uint8_t>(too_small.bytes.begin(), too_small.bytes.begin() + 4),
            (std::vector<std::uint8_t>{1, 2, 3, 4}));
  for (std::size_t i = 4; i < too_small.bytes.size(); ++i) {
    EXPECT_EQ(too_small.bytes[i], kUntouched) << "byte " << i;
  }
  EXPECT_EQ(too_small.record.bytes_written, 4u);
  EXPECT_EQ(too_small.record.bytes_needed, 4u);

  Request nothing(PKDV_NDIS_REQUEST_QUERY, 0x00010107, 4);
  reply(answers(0, {9, 9, 9, 9}));
  EXPECT_EQ(make(nothing), PKDV_NDIS_STATUS_NO_DATA) << "no bytes: the record is left alone";
  EXPECT_TRUE(nothing.untouched());
}

TEST_F(NdisRequestTest, APendingCallEndsWithTheOverlappedResult) {
  Request completed(PKDV_NDIS_REQUEST_QUERY, 0x00010106, 4);
  reply(pends_then(true, 4, {0xDC, 5, 0, 0}));
  EXPECT_EQ(make(completed), 0u);
  EXPECT_EQ(completed.bytes[0], 0xDC);
  EXPECT_EQ(completed.record.bytes_written, 4u);

  Request empty(PKDV_NDIS_REQUEST_QUERY, 0x00010106, 4);
  reply(pends_then(true, 0));
  EXPECT_EQ(make(empty), PKDV_NDIS_STATUS_NO_DATA);
  EXPECT_TRUE(empty.untouched());

  // A failed wait is a failure like an immediate refusal, even when it
  // reports a count: nothing comes back, and the last error is the driver's.
  for (std::uint32_t returned : {0u, 4u}) {
    Request failed(PKDV_NDIS_REQUEST_QUERY, 0x00010106, 4);
    reply(pends_then(false, returned, {0xDC, 5, 0, 0}));
    EXPECT_EQ(make(failed), static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED)) << returned;
    EXPECT_TRUE(failed.untouched()) << returned;
    EXPECT_EQ(PKDV_GetLastError(), kErrorGenFailure) << returned;
  }
}

TEST_F(NdisRequestTest, AnImmediateRefusalGivesFiftyAndKeepsTheDriversError) {
  Request request(PKDV_NDIS_REQUEST_QUERY, 0x00FFFFFF, 4);
  reply(refuses(sys::kErrorInvalidParameter));
  EXPECT_EQ(make(request), static_cast<std::uint32_t>(ERROR_NOT_SUPPORTED));
  EXPECT_EQ(PKDV_GetLastError(), sys::kErrorInvalidParameter);
  EXPECT_TRUE(request.untouched());
}

TEST_F(NdisRequestTest, ASetNeverWritesBack) {
  Request request(PKDV_NDIS_REQUEST_SET, 0x0001010E, 4);
  reply(answers(4, {1, 2, 3, 4}));
  EXPECT_EQ(make(request), 0u);
  EXPECT_TRUE(request.untouched());
}

TEST_F(NdisRequestTest, RefusedBeforeTheDriverIsCalled) {
  Request type_2(2, 0x00010101, 4);
  EXPECT_EQ(make(type_2), NDIS_STATUS_INVALID_DATA);
  EXPECT_EQ(PKDV_MakeNdisRequest(adapter_, nullptr, &overlapped_, 1), NDIS_STATUS_INVALID_DATA);
  Request no_bytes(PKDV_NDIS_REQUEST_QUERY, 0x00010101, 4);
  no_bytes.record.information_buffer = nullptr;
  EXPECT_EQ(make(no_bytes), NDIS_STATUS_INVALID_DATA);

  Request valid(PKDV_NDIS_REQUEST_QUERY, 0x00010101, 4);
  EXPECT_EQ(make(valid, 0), NDIS_STATUS_FAILURE) << "only waiting requests are supported";
  // A length no buffer of the driver's layout can carry.
  Request oversized(PKDV_NDIS_REQUEST_QUERY, 0x00010101, 4);
  oversized.record.information_buffer_length = 0xFFFFFFFFu;
  EXPECT_EQ(make(oversized), NDIS_STATUS_FAILURE);

  EXPECT_TRUE(scripted().driver_calls.empty());
  EXPECT_TRUE(valid.untouched());
}

TEST_F(NdisRequestTest, RunningOutOfMemoryInTheDriverIsAFailureWithNothingWrittenBack) {
  Request request(PKDV_NDIS_REQUEST_QUERY, 0x0001010D, 16);
  capture_.out_of_memory = true;
  std::uint32_t result = 0;
  EXPECT_NO_THROW(result = make(request));
  EXPECT_EQ(result, NDIS_STATUS_FAILURE);
  EXPECT_TRUE(request.untouched());
}

TEST_F(NdisRequestTest, NoAdapterOrNoDriverIsNotReady) {
  Request type_2(2, 0x00010101, 4);
  EXPECT_EQ(PKDV_MakeNdisRequest(0, &type_2.record, nullptr, 1), NDIS_STATUS_ADAPTER_NOT_READY);
  EXPECT_EQ(PKDV_MakeNdisRequest(PKDV_INVALID_ADAPTER, nullptr, nullptr, 0),
            NDIS_STATUS_ADAPTER_NOT_READY);

  scripted().has_driver = false;
  Request valid(PKDV_NDIS_REQUEST_QUERY, 0x00010101, 4);
  EXPECT_EQ(make(valid), NDIS_STATUS_ADAPTER_NOT_READY);
  EXPECT_TRUE(scripted().driver_calls.empty());
}

}  // namespace
}  // namespace pkdv::testing
