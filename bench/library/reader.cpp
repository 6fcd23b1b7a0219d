#include "library/reader.h"

#include <vector>

namespace pkdv::bench {

namespace {
constexpr std::uint32_t kCapacity = 1514;

AdapterHandle open_source(const std::string& source) {
  std::vector<char> name(source.begin(), source.end());
  name.push_back('\0');
  return PKDV_OpenAdapterA(name.data());
}
}  // namespace

Reader::Reader(const std::string& source, int reads, FrameHook hook)
    : adapter_(open_source(source)), reads_(reads), hook_(std::move(hook)) {}

Reader::~Reader() {
  finish();
}

bool Reader::start() {
  if (!opened()) return false;
  reposting_ = std::make_unique<support::RepostingReader>(
      adapter_, reads_, kCapacity, [this](std::uint32_t status, const PacketBuffer& buffer) {
        if (status != NDIS_STATUS_SUCCESS) {
          failed.fetch_add(1, std::memory_order_relaxed);
          return false;
        }
        served.fetch_add(1, std::memory_order_relaxed);
        if (hook_) hook_(buffer);
        return true;
      });
  reposting_->post_idle(reads_);
  return true;
}

void Reader::finish() {
  if (!opened()) return;
  reposting_.reset();  // takes every read back
  PKDV_CloseAdapter(adapter_);
  adapter_ = PKDV_INVALID_ADAPTER;
}

void wait_alertably_until(const std::atomic<bool>& stop, std::uint32_t slice_ms) {
  while (!stop.load(std::memory_order_acquire)) PKDV_WaitAlertable(slice_ms);
}

}  // namespace pkdv::bench
