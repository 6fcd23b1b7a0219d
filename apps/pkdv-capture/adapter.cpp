#include "adapter.h"

#include <vector>

namespace pkdv_capture {

std::string failure_reason(uint32_t last_error) {
  const char* text = nullptr;
  switch (last_error) {
    case 2:
      text = "no such file";
      break;
    case 5:
      text = "access denied (live capture needs root or CAP_NET_RAW)";
      break;
    case 6:
      text = "not an open adapter";
      break;
    case 8:
      text = "out of memory";
      break;
    case 11:
      text = "not a savefile";
      break;
    case 21:
      text = "the adapter is not up";
      break;
    case 24:
      text = "the adapter cannot carry a frame of that length";
      break;
    case 50:
      text = "not supported";
      break;
    case 55:
      text = "no such adapter";
      break;
    case 87:
      text = "invalid argument";
      break;
    case 126:
      text = "no capture library installed";
      break;
    case 1392:
      text = "damaged savefile";
      break;
    default:
      text = "refused";
  }
  return std::string(text) + " (error " + std::to_string(last_error) + ")";
}

OpenAdapter::OpenAdapter(const std::string& name) : name_(name) {
  // The library may rewrite the name in place (it drops a leading "\Device\").
  std::vector<char> writable(name.begin(), name.end());
  writable.push_back('\0');
  handle_ = PKDV_OpenAdapterA(writable.data());
  if (handle_ == PKDV_INVALID_ADAPTER) {
    std::string reason = failure_reason(PKDV_GetLastError());
    throw AdapterError(is_savefile() ? "cannot open savefile " + savefile_path() + ": " + reason
                                     : "cannot open adapter '" + name + "': " + reason);
  }
}

}  // namespace pkdv_capture
