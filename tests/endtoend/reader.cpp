#include "reader.h"

#include <gtest/gtest.h>

namespace pkdv::testing {

Reader::Reader(AdapterHandle adapter, int outstanding, std::uint32_t capacity)
    : reads_(adapter, outstanding, capacity,
             [this](std::uint32_t status, const PacketBuffer& buffer) {
               return record(status, buffer);
             }) {}

std::size_t Reader::unasked() const {
  const std::size_t asked = results_.size() + static_cast<std::size_t>(reads_.outstanding());
  return asked < wanted_ ? wanted_ - asked : 0;
}

bool Reader::record(std::uint32_t status, const PacketBuffer& b) {
  EXPECT_EQ(status, b.status) << "the routine gets the buffer's status";
  ReadResult r{b.status,
               b.sequence,
               b.timestamp,
               b.captured_length,
               b.wire_length,
               {},
               std::chrono::steady_clock::now()};
  if (b.status == NDIS_STATUS_SUCCESS) r.data.assign(b.data, b.data + b.captured_length);
  results_.push_back(std::move(r));
  return unasked() > 0;
}

void Reader::run_until(std::size_t count, std::chrono::milliseconds timeout) {
  wanted_ = count;
  const int refused = reads_.refused_posts();
  reads_.post_idle(static_cast<int>(unasked()));
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (results_.size() < count && std::chrono::steady_clock::now() < deadline) {
    PKDV_WaitAlertable(20);
  }
  EXPECT_EQ(reads_.refused_posts(), refused) << "every read was posted";
}

}  // namespace pkdv::testing
