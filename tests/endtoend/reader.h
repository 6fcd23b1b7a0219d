// A client of the shared library that keeps reads outstanding on one adapter
// by reposting from the completion routine, as real clients do, and records
// what every read brought back.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

#include "pkdv.h"

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
  ~Reader();

  // Waits alertably until `count` reads came back or `timeout` passed; reposts
  // each read after it comes back unless `count` has been reached.
  void run_until(std::size_t count, std::chrono::milliseconds timeout);
  // Takes back every read still outstanding.
  void cancel_all();

  const std::vector<ReadResult>& results() const { return results_; }
  int outstanding() const { return outstanding_; }

 private:
  struct Slot {
    Reader* owner;
    std::vector<std::uint8_t> storage;
    std::uint32_t transferred = 0;
    bool posted = false;
    PacketBuffer* buffer() { return reinterpret_cast<PacketBuffer*>(storage.data()); }
  };
  static void PKDV_CALLBACK completed(std::uint32_t status, std::uint32_t count,
                                      std::uintptr_t context);
  void post(Slot& slot);

  AdapterHandle adapter_;
  std::vector<std::unique_ptr<Slot>> slots_;
  std::vector<ReadResult> results_;
  std::size_t wanted_ = 0;
  int outstanding_ = 0;
};

}  // namespace pkdv::testing
