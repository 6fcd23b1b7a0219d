// The two adapters the clients read from, both on the same end of the veth
// pair: one stays open for the whole run, the other is closed and reopened
// again and again while reads are posted on it.
#pragma once

#include <atomic>
#include <string>

#include "library.h"

namespace pkdv::stress {

class Adapters {
 public:
  bool open(const Library& api, const std::string& name);

  // Calls `post(adapter)` with an adapter that stays open until it returns:
  // the reopened one when asked for and not being closed, else the steady one.
  template <typename Post>
  void with_adapter(bool reopened, Post post) {
    if (reopened) {
      users_.fetch_add(1);
      if (!closing_.load()) {
        post(reopened_.load());
        users_.fetch_sub(1);
        return;
      }
      users_.fetch_sub(1);
    }
    post(steady_);
  }

  // Closes the reopened adapter once no post is using it, and opens it
  // again. False when it cannot be opened again.
  bool close_and_reopen(const Library& api);
  AdapterHandle steady() const { return steady_; }

 private:
  std::string name_;
  AdapterHandle steady_ = PKDV_INVALID_ADAPTER;
  std::atomic<AdapterHandle> reopened_{PKDV_INVALID_ADAPTER};
  // A post announces itself in users_ before it reads closing_; the closer
  // sets closing_ before it waits for users_ to drain: one of the two always
  // sees the other.
  std::atomic<int> users_{0};
  std::atomic<bool> closing_{false};
};

}  // namespace pkdv::stress
