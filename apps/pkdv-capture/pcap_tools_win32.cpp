// Windows: mingw has no libpcap headers or import library, and the capture library is an
// optional install, so wpcap.dll is loaded on first use and the few records it needs are
// declared here with the layouts of its Windows build.
//
// Npcap and WinPcap (whose version text names them) give dead handles and read savefiles.
// Wine's forwarder exports pcap_open_dead, pcap_open_offline, pcap_dump_flush and
// pcap_dump_close as stubs that end the process, so with any other library a handle opened on
// the adapter being captured stands in for the dead one, savefiles are not read, and a
// savefile written stays open until the process ends, which flushes and closes it. Its 32-bit
// build cannot write records at all (see dump_mangles_headers): there the client writes the
// savefile itself.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <utility>

#include "pcap_tools.h"

namespace pkdv_capture {
namespace {

struct BpfProgram {
  unsigned int length;
  void* instructions;
};

struct PacketHeader {  // the Windows layout: 32-bit seconds and microseconds
  long seconds;
  long microseconds;
  uint32_t captured_length;
  uint32_t wire_length;
};

struct Device {  // pcap_if_t
  Device* next;
  char* name;
  char* description;
  void* addresses;
  uint32_t flags;
};

constexpr uint32_t kDeviceUp = 0x2;
constexpr uint32_t kDeviceRunning = 0x4;
constexpr uint32_t kDeviceLoopback = 0x1;
constexpr int kEndOfSavefile = -2;

struct Pcap {
  const char* (*lib_version)();
  void* (*open_dead)(int, int);
  void* (*open_live)(const char*, int, int, int, char*);
  void* (*open_offline)(const char*, char*);
  int (*datalink)(void*);
  int (*compile)(void*, BpfProgram*, const char*, int, uint32_t);
  void (*freecode)(BpfProgram*);
  char* (*geterr)(void*);
  void (*close)(void*);
  int (*next_ex)(void*, PacketHeader**, const unsigned char**);
  void* (*dump_open)(void*, const char*);
  void (*dump)(unsigned char*, const PacketHeader*, const unsigned char*);
  int (*dump_flush)(void*);
  void (*dump_close)(void*);
  int (*findalldevs)(Device**, char*);
  void (*freealldevs)(Device*);
};

constexpr uint32_t kNetmaskUnknown = 0xFFFFFFFF;
constexpr size_t kErrorBufferSize = 256;

HMODULE load_wpcap() {
  // A capture library installed in its own folder of the system directory comes first; the
  // process's DLL search path is left alone.
  wchar_t folder[MAX_PATH];
  UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH - 20) {
    std::wstring path = std::wstring(folder, length) + L"\\Npcap\\wpcap.dll";
    if (HMODULE module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH))
      return module;
  }
  return LoadLibraryW(L"wpcap.dll");
}

template <typename Function>
bool resolve(HMODULE module, const char* name, Function& function) {
  function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
  return function != nullptr;
}

// The functions, or an exception saying why the feature is not available in this install.
const Pcap& pcap(const char* feature) {
  static const Pcap* loaded = []() -> const Pcap* {
    static Pcap functions{};
    HMODULE module = load_wpcap();
    if (!module) return nullptr;
    bool complete = resolve(module, "pcap_lib_version", functions.lib_version) &&
                    resolve(module, "pcap_open_dead", functions.open_dead) &&
                    resolve(module, "pcap_open_live", functions.open_live) &&
                    resolve(module, "pcap_open_offline", functions.open_offline) &&
                    resolve(module, "pcap_datalink", functions.datalink) &&
                    resolve(module, "pcap_next_ex", functions.next_ex) &&
                    resolve(module, "pcap_findalldevs", functions.findalldevs) &&
                    resolve(module, "pcap_freealldevs", functions.freealldevs) &&
                    resolve(module, "pcap_compile", functions.compile) &&
                    resolve(module, "pcap_freecode", functions.freecode) &&
                    resolve(module, "pcap_geterr", functions.geterr) &&
                    resolve(module, "pcap_close", functions.close) &&
                    resolve(module, "pcap_dump_open", functions.dump_open) &&
                    resolve(module, "pcap_dump", functions.dump) &&
                    resolve(module, "pcap_dump_flush", functions.dump_flush) &&
                    resolve(module, "pcap_dump_close", functions.dump_close);
    return complete ? &functions : nullptr;
  }();
  if (!loaded)
    throw PcapToolError(std::string(feature) + " is not available: wpcap.dll could not be loaded");
  return *loaded;
}

bool has_dead_handles(const Pcap& functions) {
  std::string version = functions.lib_version();
  return version.starts_with("Npcap version ") || version.starts_with("WinPcap version ");
}

std::string device_of(const std::string& adapter) {
  return adapter.starts_with(kAdapterSourcePrefix)
             ? adapter.substr(std::strlen(kAdapterSourcePrefix))
             : adapter;
}

// A dead handle of `link_type`, or one opened on `adapter` where dead handles are missing (its
// link type is then the adapter's own, which is what was asked for).
struct ReferenceHandle {
  ReferenceHandle(const char* feature, int link_type, uint32_t snapshot_length,
                  const std::string& adapter)
      : functions(pcap(feature)), native(has_dead_handles(functions)) {
    if (native) {
      handle = functions.open_dead(link_type, static_cast<int>(snapshot_length));
      if (!handle) throw PcapToolError("the capture library gives no dead handle");
      return;
    }
    if (adapter.starts_with("file://") || adapter.empty())
      throw PcapToolError(std::string(feature) +
                          " needs an adapter (-i) with this capture library");
    char error[kErrorBufferSize] = "";
    handle = functions.open_live(device_of(adapter).c_str(), static_cast<int>(snapshot_length), 0,
                                 1, error);
    if (!handle) throw PcapToolError(std::string("cannot open ") + adapter + ": " + error);
  }
  ~ReferenceHandle() { functions.close(handle); }
  ReferenceHandle(const ReferenceHandle&) = delete;
  ReferenceHandle& operator=(const ReferenceHandle&) = delete;

  const Pcap& functions;
  const bool native;  // Npcap or WinPcap
  void* handle = nullptr;
};

constexpr uint32_t kFilterSnapshotLength = 262144;
constexpr int kProbeSnapshotLength = 128;

std::vector<uint8_t> compile_on(const Pcap& functions, void* handle,
                                const std::string& expression) {
  BpfProgram program{};
  if (functions.compile(handle, &program, expression.c_str(), 1, kNetmaskUnknown) != 0)
    throw FilterError(functions.geterr(handle));
  std::vector<uint8_t> instructions(program.length * kBpfInstructionSize);
  std::memcpy(instructions.data(), program.instructions, instructions.size());
  functions.freecode(&program);
  return instructions;
}

}  // namespace

std::string capture_library_version() {
  return pcap("the capture library").lib_version();
}

int adapter_link_type(const std::string& adapter) {
  const Pcap& functions = pcap("learning the link type");
  char error[kErrorBufferSize] = "";
  void* probe = functions.open_live(device_of(adapter).c_str(), kProbeSnapshotLength, 0, 1, error);
  if (!probe) throw PcapToolError("cannot learn the link type of " + adapter + ": " + error);
  int link_type = functions.datalink(probe);
  functions.close(probe);
  return link_type;
}

std::map<std::string, std::string> adapter_states() {
  std::map<std::string, std::string> states;
  const Pcap& functions = pcap("listing adapters");
  char error[kErrorBufferSize] = "";
  Device* devices = nullptr;
  if (functions.findalldevs(&devices, error) != 0) return states;
  for (Device* device = devices; device; device = device->next) {
    std::string text = device->flags & kDeviceUp ? "Up" : "Down";
    if (device->flags & kDeviceRunning) text += ", Running";
    if (device->flags & kDeviceLoopback) text += ", Loopback";
    states[device->name] = text;
  }
  functions.freealldevs(devices);
  return states;
}

std::vector<uint8_t> compile_filter(const std::string& expression, int link_type,
                                    const std::string& adapter) {
  ReferenceHandle reference("filtering", link_type, kFilterSnapshotLength, adapter);
  return compile_on(reference.functions, reference.handle, expression);
}

namespace {

// Wine 8.0's 32-bit forwarder widens the header pcap_dump is handed as if libpcap's time stamp
// were two 64-bit values, [seconds, sign, microseconds, sign, captured, wire], and libpcap
// records the first four words: seconds, 0, the microseconds as the captured length, 0. No
// header handed to it comes out right (its pcap_next_ex loses words the same way).
bool dump_mangles_headers(const Pcap& functions) {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  bool under_wine = ntdll && GetProcAddress(ntdll, "wine_get_version");
  return sizeof(void*) == 4 && under_wine &&
         std::string_view(functions.lib_version()).starts_with("libpcap version ");
}

// A savefile's header as libpcap writes it: microsecond time stamps, version 2.4, the byte
// order of the machine (which reads it back by the magic number).
struct SavefileHeader {
  uint32_t magic = 0xA1B2C3D4;
  uint16_t major_version = 2;
  uint16_t minor_version = 4;
  int32_t time_zone = 0;
  uint32_t time_accuracy = 0;
  uint32_t snapshot_length;
  uint32_t link_type;
};
static_assert(sizeof(SavefileHeader) == 24 && sizeof(PacketHeader) == 16,
              "the layouts of a savefile");

std::FILE* create_savefile(const std::string& path) {
  if (path != "-") return std::fopen(path.c_str(), "wb");
  std::fflush(stdout);
  return _setmode(_fileno(stdout), _O_BINARY) == -1 ? nullptr : stdout;
}

}  // namespace

struct SavefileWriter::State {
  const Pcap& functions;
  bool native;
  void* dumper;       // the capture library's writer, or
  std::FILE* file;    // the client's own
  uint32_t snapshot_length;
  std::string path;
};

// The reference handle only lends its link type and snapshot length to the new file.
SavefileWriter::SavefileWriter(const std::string& path, int link_type, uint32_t snapshot_length,
                               const std::string& adapter) {
  const std::string name = path == "-" ? "standard output" : path;
  if (const Pcap& functions = pcap("writing savefiles"); dump_mangles_headers(functions)) {
    std::FILE* file = create_savefile(path);
    if (!file) throw PcapToolError("cannot create savefile " + name + ": " + std::strerror(errno));
    const SavefileHeader header{.snapshot_length = snapshot_length,
                                .link_type = static_cast<uint32_t>(link_type)};
    if (std::fwrite(&header, sizeof header, 1, file) != 1) {
      if (file != stdout) std::fclose(file);
      throw PcapToolError("cannot write to " + name);
    }
    state_.reset(new State{functions, false, nullptr, file, snapshot_length, name});
    return;
  }
  ReferenceHandle reference("writing savefiles", link_type, snapshot_length, adapter);
  void* dumper = reference.functions.dump_open(reference.handle, path.c_str());
  if (!dumper)
    throw PcapToolError(std::string("cannot create savefile: ") +
                        reference.functions.geterr(reference.handle));
  state_.reset(new State{reference.functions, reference.native, dumper, nullptr, snapshot_length,
                         name});
}

SavefileWriter::~SavefileWriter() {
  if (state_->native && state_->dumper) state_->functions.dump_close(state_->dumper);
  if (state_->file && state_->file != stdout) std::fclose(state_->file);
}

void SavefileWriter::write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length) {
  PacketHeader header{
      static_cast<long>(timestamp / 10'000'000), static_cast<long>(timestamp % 10'000'000 / 10),
      static_cast<uint32_t>(std::min<size_t>(data.size(), state_->snapshot_length)), wire_length};
  if (!state_->file) {
    state_->functions.dump(static_cast<unsigned char*>(state_->dumper), &header, data.data());
    return;
  }
  if (std::fwrite(&header, sizeof header, 1, state_->file) != 1 ||
      std::fwrite(data.data(), 1, header.captured_length, state_->file) != header.captured_length)
    throw PcapToolError("cannot write to " + state_->path);
}

// Without the native library's flush (Wine's is a stub), the frames go out as its buffer fills.
void SavefileWriter::flush() {
  if (state_->file && std::fflush(state_->file) != 0)
    throw PcapToolError("cannot write to " + state_->path);
  if (state_->native && state_->functions.dump_flush(state_->dumper) != 0)
    throw PcapToolError("cannot write to " + state_->path);
}

void SavefileWriter::finish() {
  if (std::FILE* file = std::exchange(state_->file, nullptr)) {
    bool failed = std::fflush(file) != 0 || std::ferror(file);
    if (file != stdout) failed = std::fclose(file) != 0 || failed;
    if (failed) throw PcapToolError("cannot write to " + state_->path);
    return;
  }
  if (!state_->native || !state_->dumper) return;  // the process's end closes it
  bool failed = state_->functions.dump_flush(state_->dumper) != 0;
  state_->functions.dump_close(state_->dumper);
  state_->dumper = nullptr;
  if (failed) throw PcapToolError("cannot write to " + state_->path);
}

struct SavefileFrames::State {
  const Pcap& functions;
  std::string path;
  void* handle;
  uint64_t frames = 0;
};

SavefileFrames::SavefileFrames(const std::string& path) {
  const Pcap& functions = pcap("reading savefiles");
  if (!has_dead_handles(functions))
    throw PcapToolError("cannot read savefile " + path + ": this capture library (" +
                        functions.lib_version() + ") reads no savefiles");
  char error[kErrorBufferSize] = "";
  void* handle = functions.open_offline(path.c_str(), error);
  if (!handle) throw PcapToolError("cannot read savefile " + path + ": " + error);
  state_.reset(new State{functions, path, handle});
}

SavefileFrames::~SavefileFrames() {
  state_->functions.close(state_->handle);
}

int SavefileFrames::link_type() const {
  return state_->functions.datalink(state_->handle);
}

std::vector<uint8_t> SavefileFrames::compile_filter(const std::string& expression) const {
  return compile_on(state_->functions, state_->handle, expression);
}

std::optional<SavedFrame> SavefileFrames::next() {
  PacketHeader* header = nullptr;
  const unsigned char* data = nullptr;
  int result = state_->functions.next_ex(state_->handle, &header, &data);
  if (result == kEndOfSavefile) return std::nullopt;
  if (result != 1)
    throw SavefileDamage(state_->path + " is damaged after frame " +
                         std::to_string(state_->frames) + ": " +
                         state_->functions.geterr(state_->handle));
  ++state_->frames;
  return SavedFrame{int64_t(header->seconds) * 10'000'000 + int64_t(header->microseconds) * 10,
                    header->wire_length,
                    {data, header->captured_length}};
}

struct SavefileStream::State {};

SavefileStream::SavefileStream(const std::string&) {
  throw PcapToolError("reading a savefile from standard input or a pipe is not supported on Windows");
}

SavefileStream::~SavefileStream() = default;

SavefileFrames& SavefileStream::frames() {
  throw PcapToolError("no savefile stream on Windows");
}

std::string SavefileStream::path() const {
  return {};
}

void SavefileStream::start() {}

void SavefileStream::opened() {}

std::optional<std::string> SavefileStream::finish() {
  return std::nullopt;
}

}  // namespace pkdv_capture
