// The capture driver's OID requests, as the library builds them and every
// driver transport reads them: two control codes, and the PACKET_OID_DATA
// buffer they carry (OID, data length, then the data).
#pragma once

#include <cstdint>

namespace pkdv::capture {

inline constexpr std::uint32_t kControlSetOid = 0x80000000u;    // BIOCSETOID
inline constexpr std::uint32_t kControlQueryOid = 0x80000004u;  // BIOCQUERYOID
inline constexpr std::uint32_t kOidDataHeaderSize = 8;          // OID, data length

}  // namespace pkdv::capture
