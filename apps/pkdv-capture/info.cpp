#include "info.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "adapter.h"
#include "info_text.h"
#include "options.h"
#include "output.h"

namespace pkdv_capture {
namespace {

struct Query {
  uint32_t oid;
  const char* name;
};

constexpr Query kQueries[] = {
    {kOidCurrentAddress, "OID_802_3_CURRENT_ADDRESS"},
    {kOidMaximumFrameSize, "OID_GEN_MAXIMUM_FRAME_SIZE"},
    {kOidLinkSpeed, "OID_GEN_LINK_SPEED"},
    {kOidMediaConnectStatus, "OID_GEN_MEDIA_CONNECT_STATUS"},
    {kOidCurrentPacketFilter, "OID_GEN_CURRENT_PACKET_FILTER"},
};

std::string query_result(AdapterHandle adapter, uint32_t oid) {
  std::vector<uint8_t> answer(256);
  NdisRequestRecord request{};
  request.request_type = PKDV_NDIS_REQUEST_QUERY;
  request.oid = oid;
  request.information_buffer = answer.data();
  request.information_buffer_length = static_cast<uint32_t>(answer.size());
  uint32_t result = PKDV_MakeNdisRequest(adapter, &request, nullptr, 1);
  if (result == NDIS_STATUS_SUCCESS && request.bytes_written > 0)
    return describe_oid_answer(
        oid, std::span(answer).first(std::min<size_t>(request.bytes_written, answer.size())));
  if (result == ERROR_NOT_SUPPORTED)
    return "refused by the driver (error " + std::to_string(PKDV_GetLastError()) + ")";
  if (result == NDIS_STATUS_SUCCESS || result == PKDV_NDIS_STATUS_NO_DATA)
    return "no data returned";
  return "not available (" + status_name(result) + ")";
}

}  // namespace

int run_info(const Options& options) {
  OpenAdapter adapter(*options.adapter);
  std::printf("%s\n", adapter.name().c_str());
  for (const Query& query : kQueries)
    std::printf("  %-30s %s\n", query.name, query_result(adapter.handle(), query.oid).c_str());
  return 0;
}

}  // namespace pkdv_capture
