// An adapter opened through the library, closed when the object goes.
#pragma once

#include <stdexcept>
#include <string>

#include "pkdv.h"

namespace pkdv_capture {

struct AdapterError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

inline constexpr char kFileSourcePrefix[] = "file://";

class OpenAdapter {
 public:
  // Opens `name` as --list shows it, or a "file://PATH" savefile. Throws AdapterError.
  explicit OpenAdapter(const std::string& name);
  ~OpenAdapter() { PKDV_CloseAdapter(handle_); }
  OpenAdapter(const OpenAdapter&) = delete;
  OpenAdapter& operator=(const OpenAdapter&) = delete;

  AdapterHandle handle() const { return handle_; }
  const std::string& name() const { return name_; }
  // A savefile ends; its end shows as a failed read.
  bool is_savefile() const { return name_.starts_with(kFileSourcePrefix); }

 private:
  std::string name_;
  AdapterHandle handle_;
};

}  // namespace pkdv_capture
