#include <pcap/pcap.h>

#include <pthread.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

#include "pcap_tools.h"

namespace pkdv_capture {
namespace {

struct DeadHandle {
  DeadHandle(int link_type, uint32_t snapshot_length)
      : handle(pcap_open_dead(link_type, static_cast<int>(snapshot_length))) {
    if (!handle)
      throw PcapToolError("the capture library gives no handle for link type " +
                          std::to_string(link_type));
  }
  ~DeadHandle() { pcap_close(handle); }
  DeadHandle(const DeadHandle&) = delete;
  DeadHandle& operator=(const DeadHandle&) = delete;
  pcap_t* handle;
};

constexpr uint32_t kFilterSnapshotLength = 262144;
constexpr int kProbeSnapshotLength = 128;

std::string device_of(const std::string& adapter) {
  return adapter.starts_with(kAdapterSourcePrefix)
             ? adapter.substr(std::strlen(kAdapterSourcePrefix))
             : adapter;
}

std::vector<uint8_t> compile_on(pcap_t* handle, const std::string& expression) {
  bpf_program program{};
  if (pcap_compile(handle, &program, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) != 0)
    throw FilterError(pcap_geterr(handle));
  static_assert(sizeof(bpf_insn) == kBpfInstructionSize);
  std::vector<uint8_t> instructions(program.bf_len * kBpfInstructionSize);
  std::memcpy(instructions.data(), program.bf_insns, instructions.size());
  pcap_freecode(&program);
  return instructions;
}

}  // namespace

std::string capture_library_version() {
  return pcap_lib_version();
}

int adapter_link_type(const std::string& adapter) {
  char error[PCAP_ERRBUF_SIZE] = "";
  pcap_t* probe = pcap_open_live(device_of(adapter).c_str(), kProbeSnapshotLength, 0, 1, error);
  if (!probe) throw PcapToolError("cannot learn the link type of " + adapter + ": " + error);
  int link_type = pcap_datalink(probe);
  pcap_close(probe);
  return link_type;
}

std::map<std::string, std::string> adapter_states() {
  std::map<std::string, std::string> states;
  char error[PCAP_ERRBUF_SIZE] = "";
  pcap_if_t* devices = nullptr;
  if (pcap_findalldevs(&devices, error) != 0) return states;
  for (pcap_if_t* device = devices; device; device = device->next) {
    std::string text = device->flags & PCAP_IF_UP ? "Up" : "Down";
    if (device->flags & PCAP_IF_RUNNING) text += ", Running";
    if (device->flags & PCAP_IF_LOOPBACK) text += ", Loopback";
    switch (device->flags & PCAP_IF_CONNECTION_STATUS) {
      case PCAP_IF_CONNECTION_STATUS_CONNECTED:
        text += ", Connected";
        break;
      case PCAP_IF_CONNECTION_STATUS_DISCONNECTED:
        text += ", Disconnected";
        break;
    }
    states[device->name] = text;
  }
  pcap_freealldevs(devices);
  return states;
}

std::vector<uint8_t> compile_filter(const std::string& expression, int link_type,
                                    const std::string&) {
  DeadHandle dead(link_type, kFilterSnapshotLength);
  return compile_on(dead.handle, expression);
}

struct SavefileWriter::State {
  State(int link_type, uint32_t snapshot) : dead(link_type, snapshot), snapshot_length(snapshot) {}
  DeadHandle dead;
  uint32_t snapshot_length;
  std::string path;
  pcap_dumper_t* dumper = nullptr;
  bool to_stdout = false;
};

SavefileWriter::SavefileWriter(const std::string& path, int link_type, uint32_t snapshot_length,
                               const std::string&)
    : state_(std::make_unique<State>(link_type, snapshot_length)) {
  state_->path = path == "-" ? "standard output" : path;
  state_->to_stdout = path == "-";
  state_->dumper = pcap_dump_open(state_->dead.handle, path.c_str());
  if (!state_->dumper)
    throw PcapToolError("cannot create savefile: " + std::string(pcap_geterr(state_->dead.handle)));
}

SavefileWriter::~SavefileWriter() {
  if (state_->dumper) pcap_dump_close(state_->dumper);
}

void SavefileWriter::write(int64_t timestamp, std::span<const uint8_t> data, uint32_t wire_length) {
  pcap_pkthdr header{};
  header.ts.tv_sec = static_cast<time_t>(timestamp / 10'000'000);
  header.ts.tv_usec = static_cast<suseconds_t>(timestamp % 10'000'000 / 10);
  header.caplen = static_cast<bpf_u_int32>(std::min<size_t>(data.size(), state_->snapshot_length));
  header.len = wire_length;
  pcap_dump(reinterpret_cast<u_char*>(state_->dumper), &header, data.data());
  // A reader at the other end of a pipe sees each frame as it comes.
  bool failed = state_->to_stdout ? pcap_dump_flush(state_->dumper) != 0
                                  : std::ferror(pcap_dump_file(state_->dumper)) != 0;
  if (failed) throw PcapToolError("cannot write to " + state_->path + ": " + std::strerror(errno));
}

void SavefileWriter::flush() {
  if (pcap_dump_flush(state_->dumper) != 0)
    throw PcapToolError("cannot write to " + state_->path + ": " + std::strerror(errno));
}

void SavefileWriter::finish() {
  if (!state_->dumper) return;
  bool failed =
      pcap_dump_flush(state_->dumper) != 0 || std::ferror(pcap_dump_file(state_->dumper)) != 0;
  int error = errno;
  pcap_dump_close(state_->dumper);
  state_->dumper = nullptr;
  if (failed) throw PcapToolError("cannot write to " + state_->path + ": " + std::strerror(error));
}

struct SavefileFrames::State {
  std::string path;
  pcap_t* handle = nullptr;
  uint64_t frames = 0;
};

SavefileFrames::SavefileFrames(const std::string& path) : state_(std::make_unique<State>()) {
  char error[PCAP_ERRBUF_SIZE] = "";
  state_->path = path;
  state_->handle = pcap_open_offline(path.c_str(), error);
  if (!state_->handle) throw PcapToolError("cannot read savefile " + path + ": " + error);
}

SavefileFrames::~SavefileFrames() {
  if (state_->handle) pcap_close(state_->handle);
}

int SavefileFrames::link_type() const {
  return pcap_datalink(state_->handle);
}

std::vector<uint8_t> SavefileFrames::compile_filter(const std::string& expression) const {
  return compile_on(state_->handle, expression);
}

std::optional<SavedFrame> SavefileFrames::next() {
  pcap_pkthdr* header = nullptr;
  const u_char* data = nullptr;
  int result = pcap_next_ex(state_->handle, &header, &data);
  if (result == PCAP_ERROR_BREAK) return std::nullopt;
  if (result != 1)
    throw SavefileDamage(state_->path + " is damaged after frame " +
                         std::to_string(state_->frames) + ": " + pcap_geterr(state_->handle));
  ++state_->frames;
  return SavedFrame{int64_t(header->ts.tv_sec) * 10'000'000 + int64_t(header->ts.tv_usec) * 10,
                    header->len,
                    {data, header->caplen}};
}

struct SavefileStream::State {
  // What the relay thread shares: it may outlive the object (see the destructor).
  struct Input {
    explicit Input(const std::string& path) : frames(path) {}
    SavefileFrames frames;
    std::optional<std::string> damage;
  };
  explicit State(const std::string& path) : input(std::make_shared<Input>(path)) {}
  std::shared_ptr<Input> input;
  int reading_end = -1;
  pcap_dumper_t* dumper = nullptr;  // until the relay takes it
  std::thread relay;
};

SavefileStream::SavefileStream(const std::string& path) : state_(std::make_unique<State>(path)) {
  int ends[2];
  if (pipe(ends) != 0) throw PcapToolError(std::string("cannot make a pipe: ") + strerror(errno));
  FILE* writing = fdopen(ends[1], "wb");
  // Unbuffered: exit() flushes every stream from the exiting thread, and a
  // frame the detached relay had buffered would then meet the closed pipe
  // there, where SIGPIPE is not blocked and ends the process.
  if (writing) setvbuf(writing, nullptr, _IONBF, 0);
  // The header fits in the pipe: the library's open reads it before the relay starts.
  state_->dumper = writing ? pcap_dump_fopen(state_->input->frames.state_->handle, writing) : nullptr;
  if (!state_->dumper || pcap_dump_flush(state_->dumper) != 0) {
    if (state_->dumper)
      pcap_dump_close(state_->dumper);
    else if (writing)
      std::fclose(writing);
    else
      close(ends[1]);
    close(ends[0]);
    throw PcapToolError("cannot pass the savefile on to the library");
  }
  state_->reading_end = ends[0];
}

SavefileFrames& SavefileStream::frames() {
  return state_->input->frames;
}

void SavefileStream::start() {
  pcap_dumper_t* dumper = std::exchange(state_->dumper, nullptr);
  state_->relay = std::thread([input = state_->input, dumper] {
    // A reader gone early makes the write fail here rather than end the process.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);
    try {
      while (std::optional<SavedFrame> frame = input->frames.next()) {
        pcap_pkthdr header{};
        header.ts.tv_sec = static_cast<time_t>(frame->timestamp / 10'000'000);
        header.ts.tv_usec = static_cast<suseconds_t>(frame->timestamp % 10'000'000 / 10);
        header.caplen = static_cast<bpf_u_int32>(frame->data.size());
        header.len = frame->wire_length;
        pcap_dump(reinterpret_cast<u_char*>(dumper), &header, frame->data.data());
        if (pcap_dump_flush(dumper) != 0) break;  // the library stopped reading
      }
    } catch (const SavefileDamage& damage) {
      input->damage = damage.what();
    }
    pcap_dump_close(dumper);
  });
}

// A relay still running waits for input the capture no longer wants (-c, Ctrl-C): it ends at
// its next write, which fails, or with the process, rather than holding the program open.
SavefileStream::~SavefileStream() {
  opened();
  if (state_->relay.joinable()) state_->relay.detach();
  if (state_->dumper) pcap_dump_close(state_->dumper);
}

std::string SavefileStream::path() const {
  return "/dev/fd/" + std::to_string(state_->reading_end);
}

void SavefileStream::opened() {
  if (state_->reading_end >= 0) close(state_->reading_end);
  state_->reading_end = -1;
}

std::optional<std::string> SavefileStream::finish() {
  opened();
  if (state_->relay.joinable()) state_->relay.join();
  return state_->input->damage;
}

}  // namespace pkdv_capture
