// Text of the answers to the NDIS queries that --info makes.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pkdv_capture {

inline constexpr uint32_t kOidCurrentAddress = 0x01010102;
inline constexpr uint32_t kOidMediaInUse = 0x00010104;
inline constexpr uint32_t kOidMaximumFrameSize = 0x00010106;
inline constexpr uint32_t kOidLinkSpeed = 0x00010107;
inline constexpr uint32_t kOidCurrentPacketFilter = 0x0001010E;
inline constexpr uint32_t kOidMediaConnectStatus = 0x00010114;
inline constexpr uint32_t kOidVendorDriverVersion = 0x00010116;

inline constexpr uint32_t kPacketFilterPromiscuous = 0x20;
// NDIS media whose frames the client knows the link type of.
inline constexpr uint32_t kMedium8023 = 0;
inline constexpr uint32_t kMediumIp = 19;

// The text for one answered query, e.g. "02:00:00:00:00:01" or "1500 bytes".
std::string describe_oid_answer(uint32_t oid, std::span<const uint8_t> answer);

}  // namespace pkdv_capture
