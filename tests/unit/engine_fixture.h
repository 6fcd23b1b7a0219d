// Shared set-up for the read-engine tests: the engine's state built without a
// poller thread (tests drive passes themselves), the scripted capture double,
// client threads that run commands on demand, and a recorder of completions.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "doubles/command_thread.h"
#include "doubles/scripted_capture.h"
#include "engine/engine.h"
#include "pkdv.h"
#include "platform/platform.h"

namespace pkdv::testing {

struct Completion {
  std::uint32_t status;
  std::uint32_t count;
  std::uintptr_t context;
  sys::ThreadId thread;
};

// Every completion routine call, in order, from any thread.
class CompletionLog {
 public:
  static CompletionLog& get();
  void clear();
  void add(const Completion& c);
  std::vector<Completion> all();
  std::size_t size();
  // Runs in the routine after the call was logged (for routines that post,
  // cancel or poll from inside a delivery).
  std::function<void(const Completion&)> on_completion;

 private:
  std::mutex mutex_;
  std::vector<Completion> calls_;
};

void PKDV_CALLBACK record_completion(std::uint32_t status, std::uint32_t count,
                                     std::uintptr_t context);

// A client thread, registered with the library from its start, that runs the
// commands it is given and otherwise sleeps without waiting alertably, so
// deliveries run only when a test asks for them with deliver().
class ClientThread {
 public:
  ClientThread();
  ClientThread(const ClientThread&) = delete;
  ClientThread& operator=(const ClientThread&) = delete;

  // Runs `command` in the thread and waits for it (at most 10 s).
  void run(std::function<void()> command);
  // Same, but gives up after `timeout_ms` and reports false.
  bool run_for(std::function<void()> command, int timeout_ms) {
    return thread_.run_for(std::move(command), timeout_ms);
  }
  // Runs the deliveries queued to the thread; returns wait_alertable's result.
  std::uint32_t deliver();
  sys::ThreadId id() const { return id_; }
  // Ends the thread (its reads stay behind).
  void end() { thread_.end(); }

 private:
  CommandThread thread_;
  sys::ThreadId id_ = 0;
};

class EngineTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  capture::Handle* adapter(const char* name);
  static AdapterHandle handle(capture::Handle* h) { return reinterpret_cast<AdapterHandle>(h); }

  // Posts a read of `buffer` from the calling thread with the recording routine.
  static uint32_t post(capture::Handle* h, PacketBuffer* buffer, std::uintptr_t context,
                       uint32_t* transferred = nullptr);
  // Runs the deliveries queued to the calling thread.
  static std::uint32_t deliver_here() { return sys::wait_alertable(0); }

  ScriptedCapture& capture_ = ScriptedCapture::get();
  CompletionLog& log_ = CompletionLog::get();

 private:
  long alive_before_ = 0;
};

// A frame's bytes for the scripted capture: `n` of them, all `fill`.
inline std::vector<std::uint8_t> bytes(std::size_t n, std::uint8_t fill = 0xAB) {
  return std::vector<std::uint8_t>(n, fill);
}

// The engine's requests and records that are alive, counted by the failing
// heap (doubles/failing_heap.h).
long live_requests_and_records();

// A PacketBuffer with room for `capacity` data bytes.
class Buffer {
 public:
  explicit Buffer(std::uint32_t capacity);
  PacketBuffer* get() { return reinterpret_cast<PacketBuffer*>(storage_.data()); }
  PacketBuffer* operator->() { return get(); }
  std::vector<std::uint8_t> data() { return {get()->data, get()->data + get()->captured_length}; }
  // The 64-bit fields sit on 4-byte boundaries: read them by value.
  std::uint64_t sequence() { return get()->sequence; }
  std::uint64_t timestamp() { return get()->timestamp; }

 private:
  std::vector<std::uint8_t> storage_;
};

}  // namespace pkdv::testing
