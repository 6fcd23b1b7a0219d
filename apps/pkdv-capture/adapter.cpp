#include "adapter.h"

#include <filesystem>
#include <system_error>
#include <vector>

namespace pkdv_capture {
namespace {

constexpr uint32_t kErrorAccessDenied = 5;
constexpr uint32_t kErrorNoSuchAdapter = 55;

}  // namespace

bool is_any_adapter(const std::string& name) {
  return name == "any" || name == "rpcap://any";
}

std::string failure_reason(uint32_t last_error) {
  const char* text = nullptr;
  switch (last_error) {
    case 2:
      text = "no such file";
      break;
    case kErrorAccessDenied:
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
    case kErrorNoSuchAdapter:
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
    uint32_t error = PKDV_GetLastError();
    std::string reason = failure_reason(error);
    // The library has one code for every refusal; what was refused is known here.
    std::error_code ignored;
    if (is_savefile() && std::filesystem::is_directory(savefile_path(), ignored))
      reason = "is a directory (error " + std::to_string(error) + ")";
    else if (is_savefile() && error == kErrorAccessDenied)
      reason = "permission denied: the file is not readable by this user (error 5)";
    else if (is_any_adapter(name) && error == kErrorNoSuchAdapter)
      reason = "the 'any' adapter is listed and opened only for root or CAP_NET_RAW (error 55)";
    throw AdapterError(is_savefile() ? "cannot open savefile " + savefile_path() + ": " + reason
                                     : "cannot open adapter '" + name + "': " + reason);
  }
}

}  // namespace pkdv_capture
