// The end-to-end tests' client: the shared reposting reader, recording what
// every read brought back and posting no more reads than a test asks for.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

#include "pkdv.h"
#include "support/reposting_reader.h"

namespace pkdv::testing {

struct ReadResult {
  std::uint32_t status;
  std::uint64_t sequence;
  std::uint64_t timestamp;
  std::uint32_t captured_length;
  std::uint32_t wire_length;
  std::vector<std::uint8_t> data;
  std::chrono::steady_clock::time_point handed_back;
};

class Reader {
 public:
  Reader(AdapterHandle adapter, int outstanding, std::uint32_t capacity = 2048);

  // Waits alertably until `count` reads came back or `timeout` passed; reposts
  // each read after it comes back unless `count` has been reached.
  void run_until(std::size_t count, std::chrono::milliseconds timeout);
  // Takes back every read still outstanding.
  void cancel_all() { reads_.take_back(); }

  const std::vector<ReadResult>& results() const { return results_; }
  int outstanding() const { return reads_.outstanding(); }

 private:
  bool record(std::uint32_t status, const PacketBuffer& buffer);
  std::size_t unasked() const;

  std::vector<ReadResult> results_;
  std::size_t wanted_ = 0;
  support::RepostingReader reads_;  // last: taken back before results_ goes
};

}  // namespace pkdv::testing
