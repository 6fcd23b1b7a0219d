// An adapter opened through the library, closed when the object goes.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "pkdv.h"

namespace pkdv_capture {

struct AdapterError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

inline constexpr char kFileSourcePrefix[] = "file://";

// Whether `name` is Linux's pseudo-adapter of every interface ("any", "rpcap://any" in -D).
bool is_any_adapter(const std::string& name);

// What a platform error code left by a failed PKDV_OpenAdapterA or PKDV_PacketSendEx means,
// e.g. "no such adapter (error 55)".
std::string failure_reason(uint32_t last_error);

class OpenAdapter {
 public:
  // Opens `name` as -D shows it, or a "file://PATH" savefile. Throws AdapterError with the
  // library's reason.
  explicit OpenAdapter(const std::string& name);
  ~OpenAdapter() { PKDV_CloseAdapter(handle_); }
  OpenAdapter(const OpenAdapter&) = delete;
  OpenAdapter& operator=(const OpenAdapter&) = delete;

  AdapterHandle handle() const { return handle_; }
  const std::string& name() const { return name_; }
  // A savefile ends; its end shows as a failed read.
  bool is_savefile() const { return name_.starts_with(kFileSourcePrefix); }
  std::string savefile_path() const { return name_.substr(sizeof kFileSourcePrefix - 1); }

 private:
  std::string name_;
  AdapterHandle handle_;
};

}  // namespace pkdv_capture
