#include "engine_fixture.h"

#include <chrono>

#include "doubles/failing_heap.h"
#include "engine/engine.h"
#include "engine/state.h"

namespace pkdv::testing {

CompletionLog& CompletionLog::get() {
  static CompletionLog log;
  return log;
}

void CompletionLog::clear() {
  std::lock_guard guard(mutex_);
  calls_.clear();
  on_completion = nullptr;
}

void CompletionLog::add(const Completion& c) {
  std::lock_guard guard(mutex_);
  calls_.push_back(c);
}

std::vector<Completion> CompletionLog::all() {
  std::lock_guard guard(mutex_);
  return calls_;
}

std::size_t CompletionLog::size() {
  std::lock_guard guard(mutex_);
  return calls_.size();
}

void PKDV_CALLBACK record_completion(std::uint32_t status, std::uint32_t count,
                                     std::uintptr_t context) {
  Completion c{status, count, context, sys::current_thread_id()};
  auto& log = CompletionLog::get();
  log.add(c);
  if (log.on_completion) log.on_completion(c);
}

ClientThread::ClientThread() {
  thread_.run([this] { id_ = sys::current_thread_id(); });
}

void ClientThread::run(std::function<void()> command) {
  ASSERT_TRUE(run_for(std::move(command), 10000)) << "command did not finish in 10 s";
}

std::uint32_t ClientThread::deliver() {
  std::uint32_t result = 0;
  run([&result] { result = sys::wait_alertable(0); });
  return result;
}

void EngineTest::SetUp() {
  capture_.reset();
  log_.clear();
  engine::reset_frame_counter();
  alive_before_ = live_requests_and_records();
  engine::build_state();
}

void EngineTest::TearDown() {
  // The tests' buffers are gone by now: tear the reads down without handing
  // them back, then let deliveries still queued to this thread find nothing.
  engine::clear_map(false);
  sys::wait_alertable(0);
  engine::destroy_state();
  EXPECT_EQ(live_requests_and_records(), alive_before_) << "requests or records leaked";
  log_.clear();
}

capture::Handle* EngineTest::adapter(const char* name) {
  capture::Handle* h = capture_.add_adapter(name);
  char error[capture::kErrorBufferSize];
  EXPECT_EQ(capture::open(name, 65536, 0, 1, error), h);
  return h;
}

uint32_t EngineTest::post(capture::Handle* h, PacketBuffer* buffer, std::uintptr_t context,
                          uint32_t* transferred) {
  return PKDV_PacketReadEx(handle(h), buffer, transferred, context, record_completion);
}

long live_requests_and_records() {
  static_assert(sizeof(engine::ReadRequest) != sizeof(engine::ThreadRecord), "told apart by size");
  return HeapFaults::nothrow_blocks(sizeof(engine::ReadRequest)) +
         HeapFaults::nothrow_blocks(sizeof(engine::ThreadRecord));
}

Buffer::Buffer(std::uint32_t capacity) : storage_(PKDV_PACKET_BUFFER_HEADER_SIZE + capacity + 1) {
  get()->capacity = capacity;
}

}  // namespace pkdv::testing
