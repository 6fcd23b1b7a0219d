#include "ndis.h"

#include <algorithm>

namespace pkdv_capture {
namespace {

constexpr size_t kAnswerCapacity = 256;

NdisAnswer request(AdapterHandle adapter, uint32_t type, uint32_t oid,
                   std::vector<uint8_t> buffer) {
  NdisRequestRecord record{};
  record.request_type = type;
  record.oid = oid;
  record.information_buffer = buffer.data();
  record.information_buffer_length = static_cast<uint32_t>(buffer.size());
  NdisAnswer answer;
  answer.result = PKDV_MakeNdisRequest(adapter, &record, nullptr, 1);
  if (answer.result == ERROR_NOT_SUPPORTED) answer.last_error = PKDV_GetLastError();
  if (type == PKDV_NDIS_REQUEST_QUERY && answer.result == NDIS_STATUS_SUCCESS) {
    buffer.resize(std::min<size_t>(record.bytes_written, buffer.size()));
    answer.data = std::move(buffer);
  }
  return answer;
}

}  // namespace

uint32_t NdisAnswer::word() const {
  return uint32_t(data[0]) | uint32_t(data[1]) << 8 | uint32_t(data[2]) << 16 |
         uint32_t(data[3]) << 24;
}

NdisAnswer ndis_query(AdapterHandle adapter, uint32_t oid) {
  return request(adapter, PKDV_NDIS_REQUEST_QUERY, oid, std::vector<uint8_t>(kAnswerCapacity));
}

NdisAnswer ndis_set(AdapterHandle adapter, uint32_t oid, uint32_t value) {
  std::vector<uint8_t> data{uint8_t(value), uint8_t(value >> 8), uint8_t(value >> 16),
                            uint8_t(value >> 24)};
  return request(adapter, PKDV_NDIS_REQUEST_SET, oid, std::move(data));
}

}  // namespace pkdv_capture
