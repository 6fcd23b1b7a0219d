// Windows: mingw has no libpcap headers or import library, and the capture library is an
// optional install, so wpcap.dll is loaded on first use and the few records it needs are
// declared here with the layouts of its Windows build.
#include <windows.h>

#include <cstring>

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

struct Pcap {
  void* (*open_dead)(int, int);
  int (*compile)(void*, BpfProgram*, const char*, int, uint32_t);
  void (*freecode)(BpfProgram*);
  char* (*geterr)(void*);
  void (*close)(void*);
  void* (*dump_open)(void*, const char*);
  void (*dump)(unsigned char*, const PacketHeader*, const unsigned char*);
  void (*dump_close)(void*);
};

constexpr uint32_t kNetmaskUnknown = 0xFFFFFFFF;

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
    bool complete = resolve(module, "pcap_open_dead", functions.open_dead) &&
                    resolve(module, "pcap_compile", functions.compile) &&
                    resolve(module, "pcap_freecode", functions.freecode) &&
                    resolve(module, "pcap_geterr", functions.geterr) &&
                    resolve(module, "pcap_close", functions.close) &&
                    resolve(module, "pcap_dump_open", functions.dump_open) &&
                    resolve(module, "pcap_dump", functions.dump) &&
                    resolve(module, "pcap_dump_close", functions.dump_close);
    return complete ? &functions : nullptr;
  }();
  if (!loaded)
    throw PcapToolError(std::string(feature) + " is not available: wpcap.dll could not be loaded");
  return *loaded;
}

struct DeadHandle {
  explicit DeadHandle(const Pcap& loaded)
      : functions(loaded), handle(loaded.open_dead(kLinkTypeEthernet, kSnapshotLength)) {}
  ~DeadHandle() {
    if (handle) functions.close(handle);
  }
  DeadHandle(const DeadHandle&) = delete;
  DeadHandle& operator=(const DeadHandle&) = delete;

  const Pcap& functions;
  void* handle;
};

}  // namespace

std::vector<uint8_t> compile_filter(const std::string& expression) {
  DeadHandle dead(pcap("filtering"));
  if (!dead.handle) throw PcapToolError("the capture library cannot compile filters");
  BpfProgram program{};
  if (dead.functions.compile(dead.handle, &program, expression.c_str(), 1, kNetmaskUnknown) != 0)
    throw PcapToolError(dead.functions.geterr(dead.handle));
  std::vector<uint8_t> instructions(program.length * kBpfInstructionSize);
  std::memcpy(instructions.data(), program.instructions, instructions.size());
  dead.functions.freecode(&program);
  return instructions;
}

struct SavefileWriter::State {
  explicit State(const Pcap& loaded) : dead(loaded) {}
  DeadHandle dead;
  void* dumper = nullptr;
};

SavefileWriter::SavefileWriter(const std::string& path)
    : state_(std::make_unique<State>(pcap("writing savefiles"))) {
  if (!state_->dead.handle) throw PcapToolError("the capture library cannot write savefiles");
  state_->dumper = state_->dead.functions.dump_open(state_->dead.handle, path.c_str());
  if (!state_->dumper)
    throw PcapToolError(std::string("cannot create savefile: ") +
                        state_->dead.functions.geterr(state_->dead.handle));
}

SavefileWriter::~SavefileWriter() {
  if (state_->dumper) state_->dead.functions.dump_close(state_->dumper);
}

void SavefileWriter::write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length) {
  PacketHeader header{static_cast<long>(timestamp / 10'000'000),
                      static_cast<long>(timestamp % 10'000'000 / 10),
                      static_cast<uint32_t>(data.size()), wire_length};
  state_->dead.functions.dump(static_cast<unsigned char*>(state_->dumper), &header, data.data());
}

}  // namespace pkdv_capture
