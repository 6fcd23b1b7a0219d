// Reads the frames of a classic libpcap savefile, for --send. Our own reader, because the
// capture library of some Windows installs cannot open savefiles.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pkdv_capture {

struct SavedFrame {
  int64_t timestamp = 0;  // 100 ns units since 1970-01-01 UTC
  uint32_t wire_length = 0;
  std::vector<uint8_t> data;  // the captured bytes
};

struct SavefileError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

class SavefileReader {
 public:
  // Largest record accepted; a bigger one means a corrupt file, not a frame.
  static constexpr uint32_t kMaxRecordLength = 262144;
  static constexpr uint32_t kLinkTypeEthernet = 1;

  // Opens `path` and checks its header. Throws SavefileError.
  explicit SavefileReader(const std::string& path);

  uint32_t link_type() const { return link_type_; }

  // The next frame, or none at the end of the file. Throws SavefileError for a record that is
  // cut short or larger than kMaxRecordLength.
  std::optional<SavedFrame> next();

 private:
  uint32_t word(const uint8_t* bytes) const;

  std::string path_;
  std::ifstream file_;
  bool swapped_ = false;
  bool nanoseconds_ = false;
  uint32_t link_type_ = 0;
  uint64_t records_read_ = 0;
};

}  // namespace pkdv_capture
