#include "scripted_capture.h"

#include <cstring>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace pkdv::testing {

namespace {

// The device list handed out by find_all_devices: a linked copy of `devices`.
struct ListNode {
  ListNode* next = nullptr;
  std::string name;
  std::string description;
  bool has_description = true;
};

class ScriptedDriver final : public capture::Driver {
 public:
  explicit ScriptedDriver(capture::Handle* handle) : handle_(handle) {}

  bool control(std::uint32_t code, void* buffer, std::uint32_t size, void* overlapped,
               std::uint32_t* returned) override {
    auto& capture = ScriptedCapture::get();
    std::lock_guard guard(capture.mutex);
    ScriptedAdapter& a = capture.adapter(handle_);
    auto* bytes = static_cast<std::uint8_t*>(buffer);
    a.driver_calls.push_back(
        {code, size, std::vector<std::uint8_t>(bytes, bytes + size), overlapped});
    if (capture.out_of_memory) throw std::bad_alloc();
    DriverReply reply;
    if (!a.driver_replies.empty()) {
      reply = a.driver_replies.front();
      a.driver_replies.pop_front();
    }
    pending_ = reply;
    // The driver writes its answer into the data part, after OID and length.
    if (!reply.answer.empty() && size > 8) {
      std::memcpy(bytes + 8, reply.answer.data(),
                  std::min<std::size_t>(reply.answer.size(), size - 8));
    }
    if (!reply.ok) {
      sys::set_last_error(reply.error);
      return false;
    }
    *returned = reply.returned;
    return true;
  }

  bool overlapped_result(void*, std::uint32_t* returned) override {
    *returned = pending_.returned;
    if (!pending_.completes_ok) {
      sys::set_last_error(31);  // ERROR_GEN_FAILURE
      return false;
    }
    return true;
  }

  const void* device_handle() const override { return this; }

 private:
  capture::Handle* handle_;
  DriverReply pending_;
};

std::map<capture::Handle*, std::unique_ptr<ScriptedDriver>>& drivers() {
  static std::map<capture::Handle*, std::unique_ptr<ScriptedDriver>> d;
  return d;
}

}  // namespace

ScriptedCapture& ScriptedCapture::get() {
  static ScriptedCapture instance;
  return instance;
}

void ScriptedCapture::reset() {
  std::lock_guard guard(mutex);
  adapters.clear();
  drivers().clear();
  on_poll = nullptr;
  on_close = nullptr;
  out_of_memory = false;
  list_fails = false;
  devices.clear();
  lists_made = lists_freed = 0;
  last_list_source.clear();
  opens.clear();
  closed.clear();
  open_error = "no such adapter";
}

capture::Handle* ScriptedCapture::add_adapter(const std::string& source) {
  std::lock_guard guard(mutex);
  next_handle_ += 0x100;
  auto* handle = reinterpret_cast<capture::Handle*>(next_handle_);
  ScriptedAdapter a;
  a.name = source;
  a.open = false;
  adapters.emplace(handle, std::move(a));
  return handle;
}

ScriptedAdapter& ScriptedCapture::adapter(capture::Handle* handle) {
  std::lock_guard guard(mutex);
  return adapters.at(handle);
}

void ScriptedCapture::push_frame(capture::Handle* handle, std::vector<std::uint8_t> data,
                                 std::int32_t seconds, std::int32_t microseconds,
                                 std::int32_t wire_length) {
  std::lock_guard guard(mutex);
  ScriptedFrame f;
  f.result = 1;
  f.header.seconds = seconds;
  f.header.microseconds = microseconds;
  f.header.captured_length = static_cast<std::uint32_t>(data.size());
  f.header.wire_length = wire_length < 0 ? static_cast<std::uint32_t>(data.size())
                                         : static_cast<std::uint32_t>(wire_length);
  f.data = std::move(data);
  adapters.at(handle).script.push_back(std::move(f));
}

void ScriptedCapture::push_result(capture::Handle* handle, int result) {
  std::lock_guard guard(mutex);
  ScriptedFrame f;
  f.result = result;
  adapters.at(handle).script.push_back(std::move(f));
}

}  // namespace pkdv::testing

namespace pkdv::capture {

using testing::ScriptedCapture;

Handle* open(const char* source, int snapshot_length, int flags, int read_timeout_ms, char* error) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  c.opens.push_back({source, snapshot_length, flags, read_timeout_ms});
  if (c.out_of_memory) throw std::bad_alloc();
  for (auto& [handle, a] : c.adapters) {
    if (a.name == source && !a.open) {
      a.open = true;
      return handle;
    }
  }
  sys::copy_text(error, c.open_error.c_str(), kErrorBufferSize);
  return nullptr;
}

void close(Handle* handle) {
  auto& c = ScriptedCapture::get();
  {
    std::lock_guard guard(c.mutex);
    c.closed.push_back(handle);
    auto it = c.adapters.find(handle);
    if (it != c.adapters.end()) it->second.open = false;
  }
  if (c.on_close) c.on_close(handle);
}

bool is_open(Handle* handle) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  auto it = c.adapters.find(handle);
  return it != c.adapters.end() && it->second.open;
}

int next_frame(Handle* handle, FrameHeader* header, const std::uint8_t** data) {
  auto& c = ScriptedCapture::get();
  if (c.on_poll) c.on_poll(handle);
  std::lock_guard guard(c.mutex);
  auto& a = c.adapters.at(handle);
  ++a.polls;
  if (!a.open) return -1;  // a poll on a closed handle is a fault the tests look for
  if (a.script.empty()) return 0;
  a.current = std::move(a.script.front());
  a.script.pop_front();
  if (a.current.result == 1) {
    *header = a.current.header;
    *data = a.current.data.data();
  }
  return a.current.result;
}

// Like a capture library that cannot tell: the poller polls it now and then.
Readiness readiness(Handle*) {
  return {};
}

void stop_background_reads() {}

int send_frame(Handle* handle, const std::uint8_t* frame, int length) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  auto& a = c.adapters.at(handle);
  a.sent.emplace_back(frame, frame + length);
  return a.send_result;
}

int set_filter(Handle* handle, std::uint32_t count, const void*) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  auto& a = c.adapters.at(handle);
  a.filter_counts.push_back(count);
  return a.filter_result;
}

int find_all_devices(const char* source, Device** list, char* error) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  c.last_list_source = source;
  if (c.out_of_memory) throw std::bad_alloc();
  if (c.list_fails) {
    sys::copy_text(error, "cannot list adapters", kErrorBufferSize);
    return -1;
  }
  testing::ListNode* head = nullptr;
  testing::ListNode** tail = &head;
  for (const auto& d : c.devices) {
    auto* node = new testing::ListNode{nullptr, d.name, d.description, d.has_description};
    *tail = node;
    tail = &node->next;
  }
  ++c.lists_made;
  *list = reinterpret_cast<Device*>(head);
  return 0;
}

void free_all_devices(Device* list) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  ++c.lists_freed;
  auto* node = reinterpret_cast<testing::ListNode*>(list);
  while (node) {
    auto* next = node->next;
    delete node;
    node = next;
  }
}

const Device* device_next(const Device* device) {
  return reinterpret_cast<const Device*>(reinterpret_cast<const testing::ListNode*>(device)->next);
}

const char* device_name(const Device* device) {
  return reinterpret_cast<const testing::ListNode*>(device)->name.c_str();
}

const char* device_description(const Device* device) {
  auto* node = reinterpret_cast<const testing::ListNode*>(device);
  return node->has_description ? node->description.c_str() : nullptr;
}

const char* adapter_name(Handle* handle) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  auto it = c.adapters.find(handle);
  return it == c.adapters.end() ? nullptr : it->second.name.c_str();
}

Driver* driver(Handle* handle) {
  auto& c = ScriptedCapture::get();
  std::lock_guard guard(c.mutex);
  auto it = c.adapters.find(handle);
  if (it == c.adapters.end() || !it->second.has_driver) return nullptr;
  auto& d = testing::drivers()[handle];
  if (!d) d = std::make_unique<testing::ScriptedDriver>(handle);
  return d.get();
}

}  // namespace pkdv::capture
