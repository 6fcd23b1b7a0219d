#include "info.h"

#include <cstdio>

#include "adapter.h"
#include "source.h"
#include "info_text.h"
#include "ndis.h"
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
    {kOidMediaInUse, "OID_GEN_MEDIA_IN_USE"},
    {kOidMaximumFrameSize, "OID_GEN_MAXIMUM_FRAME_SIZE"},
    {kOidLinkSpeed, "OID_GEN_LINK_SPEED"},
    {kOidMediaConnectStatus, "OID_GEN_MEDIA_CONNECT_STATUS"},
    {kOidCurrentPacketFilter, "OID_GEN_CURRENT_PACKET_FILTER"},
};

std::string query_result(AdapterHandle adapter, uint32_t oid) {
  NdisAnswer answer = ndis_query(adapter, oid);
  if (answer.answered()) return describe_oid_answer(oid, answer.data);
  if (answer.result == ERROR_NOT_SUPPORTED)
    return "refused by the driver (error " + std::to_string(answer.last_error) + ")";
  if (answer.result == NDIS_STATUS_SUCCESS || answer.result == PKDV_NDIS_STATUS_NO_DATA)
    return "no data returned";
  return "not available (" + status_name(answer.result) + ")";
}

}  // namespace

int run_info(const Options& options) {
  OpenAdapter adapter(adapter_name(*options.adapter));
  std::printf("%s\n", adapter.name().c_str());
  for (const Query& query : kQueries)
    std::printf("  %-30s %s\n", query.name, query_result(adapter.handle(), query.oid).c_str());
  return 0;
}

}  // namespace pkdv_capture
