// NDIS OID requests through PKDV_MakeNdisRequest, as the client makes them.
#pragma once

#include <cstdint>
#include <vector>

#include "info_text.h"
#include "pkdv.h"

namespace pkdv_capture {

struct NdisAnswer {
  uint32_t result = 0;      // PKDV_MakeNdisRequest's
  uint32_t last_error = 0;  // when the driver refused (ERROR_NOT_SUPPORTED)
  std::vector<uint8_t> data;

  bool answered() const { return result == NDIS_STATUS_SUCCESS && !data.empty(); }
  // The first 4 bytes, little-endian; call only when answered() with 4 bytes or more.
  uint32_t word() const;
};

NdisAnswer ndis_query(AdapterHandle adapter, uint32_t oid);
// Sets a 4-byte OID.
NdisAnswer ndis_set(AdapterHandle adapter, uint32_t oid, uint32_t value);

}  // namespace pkdv_capture
