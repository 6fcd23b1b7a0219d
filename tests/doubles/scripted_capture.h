// A scripted stand-in for the capture unit (libpcap and the adapter's driver),
// linked in place of the real one so that tests decide exactly what every
// call returns and can act at chosen moments (e.g. inside a poll).
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "capture/capture.h"

namespace pkdv::testing {

struct ScriptedFrame {
  int result = 1;  // 1 frame, 0 empty poll, negative error
  capture::FrameHeader header{};
  std::vector<std::uint8_t> data;
};

// Scripted driver: each control() takes the next reply.
struct DriverReply {
  bool ok = true;
  std::uint32_t error = 0;           // last error when !ok (997 = pending)
  std::uint32_t returned = 0;        // bytes returned (ok, or after a pending completion)
  bool completes_ok = true;          // for a pending reply: outcome of the overlapped wait
  std::vector<std::uint8_t> answer;  // bytes written into the data part of the buffer
};

struct DriverCall {
  std::uint32_t code;
  std::uint32_t size;
  std::vector<std::uint8_t> input;  // the buffer as handed over (size bytes)
  void* overlapped;
};

struct ScriptedAdapter {
  std::string name;
  std::deque<ScriptedFrame> script;
  int polls = 0;
  bool open = true;
  bool has_driver = true;
  std::deque<DriverReply> driver_replies;
  std::vector<DriverCall> driver_calls;
  std::vector<std::vector<std::uint8_t>> sent;
  int send_result = 0;
  int filter_result = 0;
  std::vector<std::uint32_t> filter_counts;
  ScriptedFrame current;  // keeps the data of the last frame alive, as libpcap does
};

struct OpenCall {
  std::string source;
  int snapshot_length;
  int flags;
  int read_timeout_ms;
};

struct ScriptedDevice {
  std::string name;
  bool has_description = true;
  std::string description;
};

class ScriptedCapture {
 public:
  static ScriptedCapture& get();

  // Forgets every adapter, script, device list and recorded call.
  void reset();

  // Declares an adapter that open() accepts under `source`. Returns the handle
  // that open() will return for it.
  capture::Handle* add_adapter(const std::string& source);
  ScriptedAdapter& adapter(capture::Handle* handle);

  // Queues what the next polls of `handle` return; once the script runs out a
  // poll is empty (0).
  void push_frame(capture::Handle* handle, std::vector<std::uint8_t> data, std::int32_t seconds = 0,
                  std::int32_t microseconds = 0, std::int32_t wire_length = -1);
  void push_result(capture::Handle* handle, int result);

  // Called at the start of every next_frame() (outside the double's own lock).
  std::function<void(capture::Handle*)> on_poll;
  // Called at the end of every close(), once the handle is closed (outside the
  // double's own lock): the moment a poller could next look at the handle.
  std::function<void(capture::Handle*)> on_close;

  // Enumeration.
  bool list_fails = false;
  std::vector<ScriptedDevice> devices;
  int lists_made = 0;
  int lists_freed = 0;
  std::string last_list_source;

  // open(), find_all_devices() and the driver's control() throw
  // std::bad_alloc, as a backend that allocates does when memory runs out.
  bool out_of_memory = false;

  std::vector<OpenCall> opens;
  std::vector<capture::Handle*> closed;
  std::string open_error = "no such adapter";

  std::recursive_mutex mutex;
  std::map<capture::Handle*, ScriptedAdapter> adapters;

 private:
  std::uintptr_t next_handle_ = 0x1000;
};

}  // namespace pkdv::testing
