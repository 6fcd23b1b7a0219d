#include "send.h"

#include <cstdio>

#include "adapter.h"
#include "options.h"
#include "output.h"
#include "savefile_reader.h"

namespace pkdv_capture {
namespace {

// What the completion routine of the frame being sent reported.
struct Completion {
  bool called = false;
  uint32_t status = 0;
  uint32_t count = 0;
};

// The library calls this before PKDV_PacketSendEx returns, in this thread.
void PKDV_CALLBACK on_sent(uint32_t status, uint32_t count, uintptr_t context) {
  *reinterpret_cast<Completion*>(context) = {true, status, count};
}

}  // namespace

int run_send(const Options& options) {
  SavefileReader savefile(options.send_path);
  if (savefile.link_type() != SavefileReader::kLinkTypeEthernet)
    throw SavefileError(options.send_path + " holds link type " +
                        std::to_string(savefile.link_type()) + ", not Ethernet");
  OpenAdapter adapter(*options.adapter);

  uint64_t frames = 0, sent = 0, bytes = 0;
  while (std::optional<SavedFrame> frame = savefile.next()) {
    ++frames;
    Completion completion;
    uint32_t count = 0;
    uint32_t status = PKDV_PacketSendEx(adapter.handle(), frame->data.data(),
                                        static_cast<uint32_t>(frame->data.size()), &count,
                                        reinterpret_cast<uintptr_t>(&completion), on_sent);
    if (status == NDIS_STATUS_SUCCESS) ++sent, bytes += count;
    if (options.quiet && status == NDIS_STATUS_SUCCESS) continue;
    // The routine is not called on a platform whose family cannot be determined.
    if (completion.called)
      std::printf("%6llu sent %5u bytes %s\n", (unsigned long long)frames, completion.count,
                  status_name(completion.status).c_str());
    else
      std::printf("%6llu sent %5u bytes %s (no completion routine call)\n",
                  (unsigned long long)frames, count, status_name(status).c_str());
  }
  std::fflush(stdout);
  std::fprintf(stderr, "pkdv-capture: %llu of %llu frames sent (%llu bytes)\n",
               (unsigned long long)sent, (unsigned long long)frames, (unsigned long long)bytes);
  return sent == frames ? 0 : 1;
}

}  // namespace pkdv_capture
