// Windows: mingw has no libpcap headers or import library, and the capture library is an
// optional install, so wpcap.dll is loaded on first use and the few records it needs are
// declared here with the layouts of its Windows build.
//
// Npcap and WinPcap (whose version text names them) give dead handles. Wine's forwarder
// exports pcap_open_dead as a stub that ends the process, so with any other library a handle
// opened on the adapter being captured stands in for the dead one; its pcap_dump_close is such
// a stub too (and so is pcap_dump_flush), so there a savefile stays open until the process
// ends, which flushes and closes it.
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
  const char* (*lib_version)();
  void* (*open_dead)(int, int);
  void* (*open_live)(const char*, int, int, int, char*);
  int (*compile)(void*, BpfProgram*, const char*, int, uint32_t);
  void (*freecode)(BpfProgram*);
  char* (*geterr)(void*);
  void (*close)(void*);
  void* (*dump_open)(void*, const char*);
  void (*dump)(unsigned char*, const PacketHeader*, const unsigned char*);
  int (*dump_flush)(void*);
  void (*dump_close)(void*);
};

constexpr uint32_t kNetmaskUnknown = 0xFFFFFFFF;
constexpr size_t kErrorBufferSize = 256;
constexpr char kLocalPrefix[] = "rpcap://";

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

// A dead handle, or one opened on `adapter` where dead handles are missing.
struct ReferenceHandle {
  ReferenceHandle(const char* feature, const std::string& adapter)
      : functions(pcap(feature)), native(has_dead_handles(functions)) {
    if (native) {
      handle = functions.open_dead(kLinkTypeEthernet, kSnapshotLength);
      if (!handle) throw PcapToolError("the capture library gives no dead handle");
      return;
    }
    if (!adapter.starts_with(kLocalPrefix))
      throw PcapToolError(std::string(feature) +
                          " needs an adapter (-i) with this capture library");
    char error[kErrorBufferSize] = "";
    std::string device = adapter.substr(std::strlen(kLocalPrefix));
    handle = functions.open_live(device.c_str(), kSnapshotLength, 0, 1, error);
    if (!handle) throw PcapToolError(std::string("cannot open ") + adapter + ": " + error);
  }
  ~ReferenceHandle() { functions.close(handle); }
  ReferenceHandle(const ReferenceHandle&) = delete;
  ReferenceHandle& operator=(const ReferenceHandle&) = delete;

  const Pcap& functions;
  const bool native;  // Npcap or WinPcap
  void* handle = nullptr;
};

}  // namespace

std::vector<uint8_t> compile_filter(const std::string& expression, const std::string& adapter) {
  ReferenceHandle reference("filtering", adapter);
  BpfProgram program{};
  if (reference.functions.compile(reference.handle, &program, expression.c_str(), 1,
                                  kNetmaskUnknown) != 0)
    throw FilterError(reference.functions.geterr(reference.handle));
  std::vector<uint8_t> instructions(program.length * kBpfInstructionSize);
  std::memcpy(instructions.data(), program.instructions, instructions.size());
  reference.functions.freecode(&program);
  return instructions;
}

struct SavefileWriter::State {
  const Pcap& functions;
  bool native;
  void* dumper;
};

// The reference handle only lends its link type and snapshot length to the new file.
SavefileWriter::SavefileWriter(const std::string& path, const std::string& adapter) {
  ReferenceHandle reference("writing savefiles", adapter);
  void* dumper = reference.functions.dump_open(reference.handle, path.c_str());
  if (!dumper)
    throw PcapToolError(std::string("cannot create savefile: ") +
                        reference.functions.geterr(reference.handle));
  state_.reset(new State{reference.functions, reference.native, dumper});
}

SavefileWriter::~SavefileWriter() {
  if (state_->native) state_->functions.dump_close(state_->dumper);
}

void SavefileWriter::write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length) {
  PacketHeader header{static_cast<long>(timestamp / 10'000'000),
                      static_cast<long>(timestamp % 10'000'000 / 10),
                      static_cast<uint32_t>(data.size()), wire_length};
  state_->functions.dump(static_cast<unsigned char*>(state_->dumper), &header, data.data());
}

}  // namespace pkdv_capture
