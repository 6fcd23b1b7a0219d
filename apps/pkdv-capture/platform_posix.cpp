#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <system_error>

#include "pkdv.h"
#include "adapter.h"
#include "adapter_list.h"
#include "info_text.h"
#include "ndis.h"
#include "platform.h"

namespace pkdv_capture {
namespace {

volatile std::sig_atomic_t interrupt_seen = 0;

extern "C" void note_interrupt(int) {
  interrupt_seen = 1;
}

}  // namespace

void wait_alertable(uint32_t milliseconds) {
  PKDV_WaitAlertable(milliseconds);
}

void catch_interrupts() {
  struct sigaction action {};
  action.sa_handler = note_interrupt;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

bool interrupted() {
  return interrupt_seen != 0;
}

bool stderr_is_terminal() {
  return isatty(STDERR_FILENO) == 1;
}

std::optional<std::string> library_version() {
  std::vector<AdapterEntry> adapters = list_adapters();
  try {
    if (!adapters.empty()) {
      OpenAdapter adapter(adapters.front().name);
      NdisAnswer answer = ndis_query(adapter.handle(), kOidVendorDriverVersion);
      if (answer.answered() && answer.data.size() >= 4)
        return std::to_string(answer.word() >> 16) + "." + std::to_string(answer.word() & 0xFFFF);
    }
  } catch (const AdapterError&) {
    // Opening an adapter may need root: the library's file name still tells.
  }
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&PKDV_OpenAdapterA), &info) == 0 || !info.dli_fname)
    return std::nullopt;
  char resolved[PATH_MAX];
  if (!realpath(info.dli_fname, resolved)) return std::nullopt;
  std::string name = resolved;
  size_t at = name.rfind(".so.");
  if (at == std::string::npos) return std::nullopt;
  return name.substr(at + 4);
}

}  // namespace pkdv_capture
