#include "adapter.h"

#include <vector>

namespace pkdv_capture {

OpenAdapter::OpenAdapter(const std::string& name) : name_(name) {
  // The library may rewrite the name in place (it drops a leading "\Device\").
  std::vector<char> writable(name.begin(), name.end());
  writable.push_back('\0');
  handle_ = PKDV_OpenAdapterA(writable.data());
  if (handle_ == PKDV_INVALID_ADAPTER) {
    throw AdapterError(is_savefile() ? "cannot open savefile " + name.substr(7)
                                     : "cannot open adapter '" + name + "' (see --list)");
  }
}

}  // namespace pkdv_capture
