// Puts frames on one end of the namespace's veth pair (AF_PACKET), and the
// frames the live benchmarks recognise on the other end.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pkdv.h"

namespace pkdv::bench {

class Injector {
 public:
  // Binds to `interface`; check ready().
  explicit Injector(const std::string& interface);
  ~Injector();
  Injector(const Injector&) = delete;
  Injector& operator=(const Injector&) = delete;

  bool ready() const { return socket_ >= 0; }
  bool send(const std::vector<std::uint8_t>& frame);

 private:
  int socket_ = -1;
};

// A 60-byte broadcast frame of a local experimental EtherType that carries
// `number` behind a marker.
std::vector<std::uint8_t> numbered_frame(std::uint32_t number);
// The number of a frame that numbered_frame made; empty for any other frame.
std::optional<std::uint32_t> frame_number(const PacketBuffer& buffer);

}  // namespace pkdv::bench
