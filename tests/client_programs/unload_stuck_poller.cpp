// Unloading while a thread of the library waits for a capture source that
// gives nothing (a savefile on a pipe with nothing to read, which the library
// reads ahead on a thread of its own): dlclose must return in bounded time,
// and the process must survive the pipe's writer going on later, when the
// library's code is no longer mapped.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "client.h"

namespace {

using namespace client;

template <typename Function>
Function* find(void* library, const char* name) {
  auto* function = reinterpret_cast<Function*>(dlsym(library, name));
  check(function != nullptr, name);
  return function;
}

// A savefile header: libpcap reads it when the adapter opens.
void write_savefile_header(int fd) {
  const std::uint32_t header[6] = {0xA1B2C3D4, 0x00040002, 0, 0, 65535, 1};
  check(write(fd, header, sizeof header) == sizeof header, "cannot write to the pipe");
}

void write_one_frame(int fd) {
  const std::uint32_t record[4] = {1, 0, 60, 60};
  const std::vector<std::uint8_t> frame(60, 0xAB);
  check(write(fd, record, sizeof record) == sizeof record, "cannot write to the pipe");
  check(write(fd, frame.data(), frame.size()) == static_cast<ssize_t>(frame.size()),
        "cannot write to the pipe");
}

}  // namespace

int main(int argc, char** argv) {
  check(argc == 2, "usage: client_unload_stuck_poller LIBRARY");
  start_watchdog(60s, "dlclose hung on the stuck poller");
  char directory[] = "/tmp/pkdv-stuck-XXXXXX";
  check(mkdtemp(directory) != nullptr, "no temporary directory");
  const std::string pipe = std::string(directory) + "/frames";
  check(mkfifo(pipe.c_str(), 0600) == 0, "no pipe");
  const int fd = open(pipe.c_str(), O_RDWR);  // both ends: reads block, writes do not
  check(fd >= 0, "the pipe does not open");
  write_savefile_header(fd);

  void* library = dlopen(argv[1], RTLD_NOW);
  check(library != nullptr, "the library does not load");
  auto* open = find<PKDV_OPEN_ADAPTER_A_FUNC>(library, "PKDV_OpenAdapterA");
  auto* read = find<PKDV_PACKET_READ_EX_FUNC>(library, "PKDV_PacketReadEx");
  std::string name = "file://" + pipe;
  const AdapterHandle adapter = open(name.data());
  check(adapter != PKDV_INVALID_ADAPTER, "the pipe does not open as a savefile");
  Slot slot;
  check(read(adapter, slot.buffer(), &slot.transferred, 0, nullptr) == 1, "post refused");
  std::this_thread::sleep_for(300ms);  // the library now waits for a frame

  const auto start = Clock::now();
  dlclose(library);
  std::printf("dlclose took %ld ms\n", elapsed_ms(start));
  // Had the library's thread been left waiting, this frame would send it
  // back into code that is gone.
  write_one_frame(fd);
  std::this_thread::sleep_for(500ms);
  close(fd);
  unlink(pipe.c_str());
  rmdir(directory);
  std::puts("survived the stuck poller's unload");
  return 0;
}
