// Loads and unloads the shared library again and again while reads are
// pending (on a quiet live adapter) and completed but not yet handed back (on
// a savefile), in several threads. Unloading must stop the poller, free every
// read, call no routine, and neither crash nor hang.
//
//   module_cycles LIBRARY SAVEFILE CYCLES
// Runs inside the private namespace of tests/live/netns_run.sh (pkdv0 quiet).
#include <dlfcn.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "pkdv.h"

namespace {

std::atomic<int> routines_called{0};

void PKDV_CALLBACK must_not_run(std::uint32_t, std::uint32_t, std::uintptr_t) {
  routines_called.fetch_add(1);
}

struct Api {
  PKDV_OPEN_ADAPTER_A_FUNC* open;
  PKDV_PACKET_READ_EX_FUNC* read;
};

template <typename F>
F* symbol(void* library, const char* name) {
  void* address = dlsym(library, name);
  if (!address) {
    std::fprintf(stderr, "missing export %s\n", name);
    std::exit(2);
  }
  return reinterpret_cast<F*>(address);
}

AdapterHandle open_adapter(const Api& api, std::string name) {
  AdapterHandle adapter = api.open(name.data());
  if (adapter == PKDV_INVALID_ADAPTER) {
    std::fprintf(stderr, "cannot open %s\n", name.c_str());
    std::exit(2);
  }
  return adapter;
}

constexpr std::uint32_t kCapacity = 2048;

std::vector<std::uint8_t>& buffer_storage(int thread, int read) {
  static std::vector<std::uint8_t> storage[4][3];
  auto& s = storage[thread][read];
  s.assign(PKDV_PACKET_BUFFER_HEADER_SIZE + kCapacity, 0);
  reinterpret_cast<PacketBuffer*>(s.data())->capacity = kCapacity;
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s LIBRARY SAVEFILE CYCLES\n", argv[0]);
    return 2;
  }
  const int cycles = std::atoi(argv[3]);
  std::uint32_t transferred = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
      std::fprintf(stderr, "dlopen: %s\n", dlerror());
      return 1;
    }
    Api api{symbol<PKDV_OPEN_ADAPTER_A_FUNC>(library, "PKDV_OpenAdapterA"),
            symbol<PKDV_PACKET_READ_EX_FUNC>(library, "PKDV_PacketReadEx")};
    const AdapterHandle quiet = open_adapter(api, "rpcap://pkdv0");
    const AdapterHandle file = open_adapter(api, std::string("file://") + argv[2]);
    // Threads post and stay alive past the unload without ever waiting
    // alertably: their completed reads are never handed back.
    std::atomic<bool> unloaded{false};
    std::atomic<int> posted{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
      threads.emplace_back([&, t] {
        for (int r = 0; r < 3; ++r) {
          auto* buffer = reinterpret_cast<PacketBuffer*>(buffer_storage(t, r).data());
          api.read(t % 2 ? file : quiet, buffer, &transferred, 0, must_not_run);
        }
        posted.fetch_add(1);
        while (!unloaded.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      });
    }
    while (posted.load() < 4) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // Every other cycle, let a pass or two run so that some reads completed.
    if (cycle % 2) std::this_thread::sleep_for(std::chrono::milliseconds(150));
    dlclose(library);
    if (dlopen(argv[1], RTLD_NOW | RTLD_NOLOAD)) {
      std::fprintf(stderr, "cycle %d: the library stayed loaded after dlclose\n", cycle);
      return 1;
    }
    unloaded.store(true);
    for (auto& t : threads) t.join();
  }
  if (routines_called.load() != 0) {
    std::fprintf(stderr, "%d completion routines ran during unload\n", routines_called.load());
    return 1;
  }
  std::printf("%d load/unload cycles with reads pending and completed: no routine called\n",
              cycles);
  return 0;
}
