// The capture unit on POSIX: libpcap linked directly.
#include <fcntl.h>
#include <net/if.h>
#include <pthread.h>
#include <pcap/pcap.h>
#include <stdio_ext.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/libpcap/capture_libpcap.h"
#include "capture/bpf_program.h"
#include "capture/capture.h"
#include "capture/capture_failure.h"
#include "capture/libpcap/linux_interface.h"
#include "capture/libpcap/ndis_driver.h"
#include "capture/libpcap/pcap_remote_compat.h"
#include "capture/libpcap/savefile_read_ahead.h"
#include "capture/open_handles.h"
#include "platform/pacing.h"
#include "platform/platform.h"

namespace pkdv::capture {

static_assert(kErrorBufferSize == PCAP_ERRBUF_SIZE, "libpcap writes its reasons into our buffers");

namespace {

// libpcap on Linux hands frames over in whole blocks of its ring, each one
// closed when it is full or when the read time-out runs out. The poller sleeps
// on the handle until a block is closed, so the time-out is the longest a
// lone frame waits before its read is served: 1 ms, the shortest there is.
// Under a steady trickle that closes a block every millisecond, so the ring
// (eight times libpcap's default: 64 blocks of 256 KiB, whatever the
// snapshot length) holds at least 64 ms of traffic for reads that are late.
// A block stays open 1-2 ms (the kernel closes the one it found open at its
// previous tick), so even a flood fills blocks only in part: left unread
// during a burst of minimal frames at 0.6-1.2 million a second, the ring
// held 55,000-75,000 of them, where full blocks hold 110,336 (1,724 each),
// and libpcap's default ring, with full blocks, 13,792. With the poller's
// fixed pacing a pass comes only every 100 ms: blocks then close after 4 ms,
// so the ring holds 256 ms of a trickle. Immediate mode would show each frame
// at once, but gives every frame a slot of the snapshot length: only about
// 128 frames would fit. Live handles are non-blocking (see open),
// so the time-out delays no poll. pcap_open would give the default ring: live
// adapters are opened with pcap_create, which lets us size it.
constexpr int kLiveBlockTimeoutMs = 1;
constexpr int kPacedBlockTimeoutMs = 4;
constexpr int kRingBytes = 16 << 20;

pcap_t* as_pcap(Handle* handle) {
  return reinterpret_cast<pcap_t*>(handle);
}
pcap_if_t* as_pcap(Device* device) {
  return reinterpret_cast<pcap_if_t*>(device);
}
const pcap_if_t* as_pcap(const Device* device) {
  return reinterpret_cast<const pcap_if_t*>(device);
}

// The program installed on a savefile, which this unit runs itself: libpcap
// would take its result only as keep or drop, where a live adapter cuts the
// frame to the length it returns. Installed by a client thread while the
// poller reads.
struct SavefileFilter {
  std::mutex mutex;
  bpf::Program program;  // empty: every frame whole
  // A program was installed once (see per_frame_work); read by close()
  // without the mutex.
  std::atomic<bool> counted{false};
};

// What open() learned about a handle; libpcap keeps no name we could read back.
struct OpenRecord {
  std::string name;
  std::unique_ptr<LinuxDriver> driver;              // null for savefiles
  std::unique_ptr<SavefileFilter> savefile_filter;  // null for live adapters
  std::unique_ptr<SavefileReadAhead> read_ahead;    // savefiles that are no regular file
  // A forked child inherits the handle from the process that opened it and
  // shares its file descriptors, so their state too (a savefile's position,
  // a ring set on a socket).
  pid_t opened_in = 0;
};

using OpenHandles = OpenHandleTable<pcap_t, OpenRecord>;

// Whether some open savefile is read ahead or has had a program installed,
// the savefiles whose frames need their record. While none has, which is the
// common case, a frame is read without a search of the table. A handle is
// counted before it is handed out, and a program before set_filter returns,
// so a read posted after either sees it.
std::atomic<int> per_frame_work{0};
bool frames_need_records() {
  return per_frame_work.load(std::memory_order_acquire) != 0;
}
void note_per_frame_work() {
  per_frame_work.fetch_add(1, std::memory_order_release);
}

OpenHandles& open_handles() {
  static OpenHandles& handles = []() -> OpenHandles& {
    OpenHandles& created = OpenHandles::instance();
    pthread_atfork([] { OpenHandles::instance().hold_for_fork(); },
                   [] { OpenHandles::instance().release_after_fork(); },
                   [] { OpenHandles::instance().release_after_fork(); });
    return created;
  }();
  return handles;
}

// A listed local adapter must be one the kernel knows: libpcap also lists
// pseudo-devices (any, nflog, dbus-..., bluetooth-...), which are no network
// adapter. Interfaces that are down stay listed, as Windows lists an adapter
// without a cable: opening one says why it cannot capture (ERROR_NOT_READY).
// The name is the tail of the listed one, so it ends where that ends: no copy
// is needed, and nothing here can run out of memory while the list is pruned.
bool is_network_adapter(const pcap_if_t* device) {
  auto [kind, name] = classify_source(device->name);
  if (kind != SourceKind::kLocalAdapter) return true;
  return if_nametoindex(name.data()) != 0;
}

// Unlinks and frees the elements that is_network_adapter() refuses.
pcap_if_t* keep_network_adapters(pcap_if_t* list) {
  pcap_if_t** link = &list;
  while (*link != nullptr) {
    pcap_if_t* device = *link;
    if (is_network_adapter(device)) {
      link = &device->next;
      continue;
    }
    *link = device->next;
    device->next = nullptr;
    pcap_freealldevs(device);
  }
  return list;
}

pcap_t* open_local_adapter(const std::string& name, int snapshot_length, bool promiscuous,
                           char* error) {
  std::unique_ptr<pcap_t, decltype(&pcap_close)> p(pcap_create(name.c_str(), error), pcap_close);
  if (p == nullptr) return nullptr;
  if (pcap_set_snaplen(p.get(), snapshot_length) != 0 ||
      pcap_set_promisc(p.get(), promiscuous) != 0 ||
      pcap_set_timeout(p.get(), sys::fixed_pacing_asked() ? kPacedBlockTimeoutMs
                                                          : kLiveBlockTimeoutMs) != 0 ||
      pcap_set_buffer_size(p.get(), kRingBytes) != 0) {
    std::snprintf(error, PCAP_ERRBUF_SIZE, "%s", pcap_geterr(p.get()));
    return nullptr;
  }
  const int status = pcap_activate(p.get());
  if (status < 0) {
    // pcap_geterr is empty for some failures (e.g. "no such device" on some
    // kernels); pcap_statustostr always has a text.
    const char* reason = pcap_geterr(p.get());
    std::snprintf(error, PCAP_ERRBUF_SIZE, "%s: %s", name.c_str(),
                  reason[0] != '\0' ? reason : pcap_statustostr(status));
    return nullptr;
  }
  return p.release();
}

// Whether the kernel has the interface up; empty when it cannot tell.
std::optional<bool> interface_is_up(const std::string& name) {
  int socket = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (socket < 0) return std::nullopt;
  std::optional<std::uint32_t> flags = linux_interface::flags(socket, name);
  ::close(socket);
  if (!flags) return std::nullopt;
  return (*flags & IFF_UP) != 0;
}

// Why an open failed: the kernel and the file system answer what they can,
// libpcap's words the rest. Every refusal of a readable file that is not
// "unknown file format" is about a damaged one.
std::uint32_t open_failure_code(SourceKind kind, std::string_view name, const char* error) {
  const std::string path(name);
  const std::uint32_t from_text = failure_code_from_text(error);
  switch (kind) {
    case SourceKind::kUnsupported:
      return sys::kErrorNotSupported;
    case SourceKind::kSavefile: {
      struct stat status {};
      if (::stat(path.c_str(), &status) != 0)
        return errno == EACCES ? sys::kErrorAccessDenied : sys::kErrorFileNotFound;
      if (S_ISDIR(status.st_mode) || ::access(path.c_str(), R_OK) != 0)
        return sys::kErrorAccessDenied;
      if (from_text == sys::kErrorBadFormat || from_text == sys::kErrorNotEnoughMemory)
        return from_text;
      return sys::kErrorFileCorrupt;
    }
    case SourceKind::kLocalAdapter:
      if (if_nametoindex(path.c_str()) == 0) return sys::kErrorDevNotExist;
      if (interface_is_up(path) == false) return sys::kErrorNotReady;
      return from_text;
  }
  return from_text;
}

}  // namespace

// Savefiles have no time-out, and live adapters the ring's own (see above).
Handle* open(const char* source, int snapshot_length, int flags, int /*read_timeout_ms*/,
             char* error) {
  // Checked here too, so that a remote-enabled libpcap is never asked to
  // reach another host.
  if (source == nullptr) {
    std::snprintf(error, kErrorBufferSize, "no source given");
    sys::set_last_error(sys::kErrorInvalidParameter);
    return nullptr;
  }
  auto [kind, name] = classify_source(source);
  if (kind == SourceKind::kUnsupported) {
    describe_unsupported_source(error, source);
    sys::set_last_error(sys::kErrorNotSupported);
    return nullptr;
  }
  // Until the handle is remembered, a failure, running out of memory
  // included, closes it again: its ring is megabytes.
  const std::string opened(name);
  std::unique_ptr<pcap_t, decltype(&pcap_close)> p(
      kind == SourceKind::kSavefile
          ? pcap_open_offline(opened.c_str(), error)
          : open_local_adapter(opened, snapshot_length, (flags & PCAP_OPENFLAG_PROMISCUOUS) != 0,
                               error),
      pcap_close);
  if (p == nullptr) {
    sys::set_last_error(open_failure_code(kind, name, error));
    return nullptr;
  }

  OpenRecord record{source, nullptr, nullptr, nullptr};
  record.opened_in = getpid();
  if (pcap_file(p.get()) != nullptr) {
    record.savefile_filter = std::make_unique<SavefileFilter>();
    struct stat file {};
    if (::fstat(fileno(pcap_file(p.get())), &file) != 0 || !S_ISREG(file.st_mode)) {
      record.read_ahead = SavefileReadAhead::start(p.get());
      if (!record.read_ahead) {
        std::snprintf(error, kErrorBufferSize, "%s: no thread to read it", opened.c_str());
        sys::set_last_error(sys::kErrorNotEnoughMemory);
        return nullptr;
      }
    }
  } else {
    // libpcap on Linux ignores the read time-out while no traffic comes (an
    // empty poll would block), and the poller holds its lock across a poll.
    if (pcap_setnonblock(p.get(), 1, error) != 0) {
      sys::set_last_error(sys::kErrorGenFailure);
      return nullptr;
    }
    record.driver = LinuxDriver::create(opened, (flags & PCAP_OPENFLAG_PROMISCUOUS) != 0,
                                        pcap_datalink(p.get()), p.get());
  }
  const bool read_ahead = record.read_ahead != nullptr;
  if (!open_handles().remember(p.get(), std::move(record))) {
    std::snprintf(error, kErrorBufferSize, "out of memory");
    sys::set_last_error(sys::kErrorNotEnoughMemory);
    return nullptr;
  }
  if (read_ahead) note_per_frame_work();
  return reinterpret_cast<Handle*>(p.release());
}

namespace {

// In a forked child, for a handle the parent opened: points the handle at a
// descriptor of no consequence, so that nothing done to it here (a teardown
// taking the ring off the socket, a stream seeking back to what it has read)
// reaches what the parent still uses. Buffered savefile data is dropped
// first, so even a stream left as it is has nothing to seek back over. False
// when no such descriptor can be had.
bool point_at_nothing(pcap_t* p) {
  FILE* file = pcap_file(p);
  if (file != nullptr) __fpurge(file);
  const int shared = file != nullptr ? fileno(file) : pcap_fileno(p);
  const int nothing = ::open("/dev/null", O_RDWR | O_CLOEXEC);
  if (nothing < 0) return false;
  const bool pointed = shared < 0 || ::dup3(nothing, shared, O_CLOEXEC) == shared;
  ::close(nothing);
  return pointed;
}

}  // namespace

void close(Handle* handle) {
  if (handle == nullptr) return;
  pcap_t* p = as_pcap(handle);
  {
    OpenRecord record = open_handles().forget(p);
    if (record.read_ahead) per_frame_work.fetch_sub(1, std::memory_order_relaxed);
    if (record.savefile_filter && record.savefile_filter->counted)
      per_frame_work.fetch_sub(1, std::memory_order_relaxed);
    if (record.opened_in != getpid()) {
      // The parent's reader thread does not exist here: its state is left,
      // never stopped.
      static_cast<void>(record.read_ahead.release());
      // Rather than risk the parent's capture, the handle is left open: its
      // memory is this process's own and ends with it.
      if (!point_at_nothing(p)) return;
    }
  }  // the driver and any reader end before the handle they use
  pcap_close(p);
}

void leave_inherited_handles() {
  open_handles().for_each([](pcap_t* p, const OpenRecord& record) {
    if (record.opened_in != getpid()) point_at_nothing(p);
  });
}

namespace {

// Kept out of is_open, asked for every read posted, whose quick answer then
// needs no registers saved.
[[gnu::noinline]] bool in_table(pcap_t* p) {
  return open_handles().find(p) != nullptr;
}

}  // namespace

bool is_open(Handle* handle) {
  pcap_t* p = as_pcap(handle);
  return OpenHandles::in_quick_slot(p) || in_table(p);
}

namespace {

// The next frame of a savefile that its installed program keeps, cut to the
// length the program returns.
int next_filtered_frame(pcap_t* p, pcap_pkthdr** frame, const u_char** bytes) {
  const OpenRecord* record = open_handles().find(p);
  SavefileFilter* filter = record ? record->savefile_filter.get() : nullptr;
  for (;;) {
    const int result = record && record->read_ahead ? record->read_ahead->next(frame, bytes)
                                                    : pcap_next_ex(p, frame, bytes);
    if (result != 1 || filter == nullptr) return result;
    std::lock_guard guard(filter->mutex);
    if (filter->program.empty()) return result;
    const std::uint32_t kept = bpf::run(filter->program, *bytes, (*frame)->len, (*frame)->caplen);
    if (kept == 0) continue;
    if (kept < (*frame)->caplen) (*frame)->caplen = kept;
    return result;
  }
}

}  // namespace

int next_frame(Handle* handle, FrameHeader* header, const std::uint8_t** data) {
  pcap_pkthdr* frame = nullptr;
  const u_char* bytes = nullptr;
  pcap_t* p = as_pcap(handle);
  int result = frames_need_records() && pcap_file(p) != nullptr
                   ? next_filtered_frame(p, &frame, &bytes)
                   : pcap_next_ex(p, &frame, &bytes);
  if (result == 1) {
    header->seconds = static_cast<std::int32_t>(frame->ts.tv_sec);
    header->microseconds = static_cast<std::int32_t>(frame->ts.tv_usec);
    header->captured_length = frame->caplen;
    header->wire_length = frame->len;
    *data = bytes;
  }
  return result;
}

// A savefile has frames, or its end, until it is closed: reading it is never
// paced, unless it is read ahead and waits for its writer. A live handle is
// readable once the ring holds a block for us.
Readiness readiness(Handle* handle) {
  pcap_t* p = as_pcap(handle);
  if (pcap_file(p) != nullptr) {
    const OpenRecord* record = open_handles().find(p);
    if (record && record->read_ahead)
      return {Readiness::Kind::kWaitable, record->read_ahead->ready_fd()};
    return {Readiness::Kind::kNow, -1};
  }
  const int fd = pcap_get_selectable_fd(p);
  if (fd < 0) return {};
  return {Readiness::Kind::kWaitable, fd};
}

void stop_background_reads() {
  SavefileReadAhead::stop_all();
}

int send_frame(Handle* handle, const std::uint8_t* frame, int length) {
  pcap_t* p = as_pcap(handle);
  if (pcap_file(p) != nullptr) {
    sys::set_last_error(sys::kErrorNotSupported);  // a savefile takes no frames
    return -1;
  }
  errno = 0;
  if (pcap_sendpacket(p, frame, length) == 0) return 0;
  switch (errno) {
    case EMSGSIZE:
      sys::set_last_error(sys::kErrorBadLength);
      break;
    case ENETDOWN:
    case ENXIO:
    case ENODEV:
      sys::set_last_error(sys::kErrorNotReady);
      break;
    case EPERM:
    case EACCES:
      sys::set_last_error(sys::kErrorAccessDenied);
      break;
    case ENOBUFS:
    case ENOMEM:
      sys::set_last_error(sys::kErrorNotEnoughMemory);
      break;
    default:
      sys::set_last_error(sys::kErrorGenFailure);
  }
  return -1;
}

int set_filter(Handle* handle, std::uint32_t count, const void* instructions) {
  pcap_t* p = as_pcap(handle);
  if (pcap_file(p) == nullptr) {
    bpf_program program{count, static_cast<bpf_insn*>(const_cast<void*>(instructions))};
    return pcap_setfilter(p, &program) == 0 ? 0 : -1;
  }
  const OpenRecord* record = open_handles().find(p);
  bpf::Program program;
  if (record == nullptr || !bpf::read_valid_program(instructions, count, &program)) return -1;
  std::lock_guard guard(record->savefile_filter->mutex);
  if (!program.empty() && !record->savefile_filter->counted.exchange(true))
    note_per_frame_work();
  record->savefile_filter->program = std::move(program);
  return 0;
}

int find_all_devices(const char* source, Device** list, char* error) {
  *list = nullptr;
  if (source == nullptr || classify_source(source).kind == SourceKind::kUnsupported) {
    describe_unsupported_source(error, source ? source : "(null)");
    return -1;
  }
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs_ex(source, nullptr, &devices, error) != 0) return -1;
  *list = reinterpret_cast<Device*>(keep_network_adapters(devices));
  return 0;
}

void free_all_devices(Device* list) {
  pcap_freealldevs(as_pcap(list));
}

const Device* device_next(const Device* device) {
  return reinterpret_cast<const Device*>(as_pcap(device)->next);
}

const char* device_name(const Device* device) {
  return as_pcap(device)->name;
}

const char* device_description(const Device* device) {
  return as_pcap(device)->description;
}

const char* adapter_name(Handle* handle) {
  const OpenRecord* record = open_handles().find(as_pcap(handle));
  return record ? record->name.c_str() : nullptr;
}

Driver* driver(Handle* handle) {
  const OpenRecord* record = open_handles().find(as_pcap(handle));
  return record ? record->driver.get() : nullptr;
}

}  // namespace pkdv::capture
