// Builds Ethernet frames byte by byte for the summary tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace pkdv_capture::testing {

class FrameBuilder {
 public:
  FrameBuilder& bytes(std::initializer_list<uint8_t> values) {
    frame_.insert(frame_.end(), values);
    return *this;
  }
  FrameBuilder& be16(uint16_t value) { return bytes({uint8_t(value >> 8), uint8_t(value)}); }
  FrameBuilder& zeros(size_t count) {
    frame_.insert(frame_.end(), count, 0);
    return *this;
  }
  // Destination 02:00:00:00:00:02, source 02:00:00:00:00:01.
  FrameBuilder& ethernet(uint16_t type) {
    return bytes({2, 0, 0, 0, 0, 2, 2, 0, 0, 0, 0, 1}).be16(type);
  }
  // 192.0.2.10 > 192.0.2.20; `payload` bytes are to follow the 20-byte header.
  FrameBuilder& ipv4(uint8_t protocol, uint16_t payload, uint16_t flags_fragment = 0x4000) {
    return bytes({0x45, 0})
        .be16(20 + payload)
        .be16(1)
        .be16(flags_fragment)
        .bytes({64, protocol})
        .be16(0)
        .bytes({192, 0, 2, 10, 192, 0, 2, 20});
  }
  // 2001:db8::10 > 2001:db8::20.
  FrameBuilder& ipv6(uint8_t next_header, uint16_t payload) {
    bytes({0x60, 0, 0, 0}).be16(payload).bytes({next_header, 64});
    for (uint8_t last : {0x10, 0x20}) bytes({0x20, 0x01, 0x0d, 0xb8}).zeros(11).bytes({last});
    return *this;
  }
  std::vector<uint8_t> build() const { return frame_; }

 private:
  std::vector<uint8_t> frame_;
};

}  // namespace pkdv_capture::testing
