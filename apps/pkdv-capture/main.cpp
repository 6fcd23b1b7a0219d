// pkdv-capture: lists adapters, captures frames through asynchronous reads, shows an adapter's
// NDIS answers, and sends the frames of a savefile, all through the pkdv library; the capture
// library itself only compiles filters, tells link types and reads and writes savefiles.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>
#include <vector>

#include "adapter_list.h"
#include "capture.h"
#include "info.h"
#include "options.h"
#include "pcap_tools.h"
#include "platform.h"
#include "send.h"

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

int run(const pkdv_capture::Options& options) {
  using pkdv_capture::Mode;
  switch (options.mode) {
    case Mode::kHelp:
      std::printf("%s", pkdv_capture::usage_text().c_str());
      return 0;
    case Mode::kVersion:
      std::printf("pkdv-capture %s on pkdv %s\n%s\n", PKDV_CAPTURE_VERSION,
                  pkdv_capture::library_version().value_or("(version unknown)").c_str(),
                  pkdv_capture::capture_library_version().c_str());
      return 0;
    case Mode::kList:
      return pkdv_capture::run_list();
    case Mode::kInfo:
      return pkdv_capture::run_info(options);
    case Mode::kSend:
      return pkdv_capture::run_send(options);
    case Mode::kCapture:
      break;
  }
  return pkdv_capture::run_capture(options);
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  auto parsed = pkdv_capture::parse_options(arguments);
  if (auto* error = std::get_if<pkdv_capture::UsageError>(&parsed)) {
    std::fprintf(stderr, "pkdv-capture: %s (try --help)\n", error->message.c_str());
    return kExitUsage;
  }
  try {
    int status = run(std::get<pkdv_capture::Options>(parsed));
    // What went to standard output must have arrived, as for the frame lines.
    if (status == 0 && (std::fflush(stdout) != 0 || std::ferror(stdout))) {
      std::fprintf(stderr, "pkdv-capture: cannot write to standard output: %s\n",
                   std::strerror(errno));
      return kExitFailure;
    }
    return status;
  } catch (const std::exception& error) {
    std::fflush(stdout);
    std::fprintf(stderr, "pkdv-capture: %s\n", error.what());
    return kExitFailure;
  }
}
