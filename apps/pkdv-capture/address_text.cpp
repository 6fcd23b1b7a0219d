#include "address_text.h"

#include <array>
#include <cstdio>

namespace pkdv_capture {

std::string mac_text(std::span<const uint8_t, 6> address) {
  char text[18];
  std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", address[0], address[1],
                address[2], address[3], address[4], address[5]);
  return text;
}

std::string ipv4_text(std::span<const uint8_t, 4> address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address[0], address[1], address[2], address[3]);
  return text;
}

std::string ipv6_text(std::span<const uint8_t, 16> address) {
  std::array<unsigned, 8> groups{};
  for (size_t i = 0; i < groups.size(); ++i) groups[i] = address[2 * i] << 8 | address[2 * i + 1];

  // The longest run of zero groups; a single zero group stays as "0".
  size_t best_start = groups.size(), best_length = 1;
  for (size_t i = 0; i < groups.size();) {
    size_t end = i;
    while (end < groups.size() && groups[end] == 0) ++end;
    if (end - i > best_length) best_start = i, best_length = end - i;
    i = end == i ? i + 1 : end;
  }

  std::string text;
  for (size_t i = 0; i < groups.size(); ++i) {
    if (i == best_start) {
      text += "::";
      i += best_length - 1;
      continue;
    }
    if (!text.empty() && text.back() != ':') text += ':';
    char group[5];
    std::snprintf(group, sizeof group, "%x", groups[i]);
    text += group;
  }
  return text;
}

}  // namespace pkdv_capture
