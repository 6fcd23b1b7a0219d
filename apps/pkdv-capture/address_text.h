// Text forms of link and network addresses as the frame summary prints them.
#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace pkdv_capture {

// "02:00:00:00:00:01": six bytes, lowercase hex.
std::string mac_text(std::span<const uint8_t, 6> address);

// "192.0.2.10".
std::string ipv4_text(std::span<const uint8_t, 4> address);

// Shortest form: lowercase, no leading zeros, the longest run of two or more zero groups (the
// first of equal runs) written as "::".
std::string ipv6_text(std::span<const uint8_t, 16> address);

}  // namespace pkdv_capture
