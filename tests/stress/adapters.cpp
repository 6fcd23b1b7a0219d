#include "adapters.h"

#include <thread>

namespace pkdv::stress {

namespace {

AdapterHandle open_adapter(const Library& api, std::string name) {
  return api.open(name.data());
}

}  // namespace

bool Adapters::open(const Library& api, const std::string& name) {
  name_ = name;
  steady_ = open_adapter(api, name_);
  reopened_ = open_adapter(api, name_);
  return steady_ != PKDV_INVALID_ADAPTER && reopened_.load() != PKDV_INVALID_ADAPTER;
}

bool Adapters::close_and_reopen(const Library& api) {
  closing_.store(true);
  while (users_.load() != 0) std::this_thread::yield();
  api.close(reopened_.load());
  const AdapterHandle again = open_adapter(api, name_);
  reopened_.store(again);
  // Without a second adapter every post goes to the steady one from now on.
  if (again == PKDV_INVALID_ADAPTER) return false;
  closing_.store(false);
  return true;
}

}  // namespace pkdv::stress
