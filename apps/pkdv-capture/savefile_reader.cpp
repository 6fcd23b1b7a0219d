#include "savefile_reader.h"

namespace pkdv_capture {
namespace {

constexpr uint32_t kMagicMicroseconds = 0xA1B2C3D4;
constexpr uint32_t kMagicNanoseconds = 0xA1B23C4D;
constexpr uint32_t kMagicPcapng = 0x0A0D0D0A;
constexpr size_t kFileHeaderSize = 24;
constexpr size_t kRecordHeaderSize = 16;

uint32_t little_endian(const uint8_t* b) {
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint32_t byte_swapped(uint32_t v) {
  return (v >> 24) | (v >> 8 & 0xFF00) | (v << 8 & 0xFF0000) | (v << 24);
}

}  // namespace

SavefileReader::SavefileReader(const std::string& path)
    : path_(path), file_(path, std::ios::binary) {
  if (!file_) throw SavefileError("cannot open " + path);
  uint8_t header[kFileHeaderSize];
  if (!file_.read(reinterpret_cast<char*>(header), sizeof header))
    throw SavefileError(path + " is too short for a savefile");
  uint32_t magic = little_endian(header);
  if (magic == kMagicPcapng) throw SavefileError(path + " is a pcapng file; only pcap is read");
  bool recognised = false;
  for (uint32_t candidate : {kMagicMicroseconds, kMagicNanoseconds}) {
    if (magic != candidate && magic != byte_swapped(candidate)) continue;
    recognised = true;
    swapped_ = magic != candidate;
    nanoseconds_ = candidate == kMagicNanoseconds;
  }
  if (!recognised) throw SavefileError(path + " is not a pcap savefile");
  link_type_ = word(header + 20) & 0x0FFFFFFF;  // the upper bits carry FCS information
}

uint32_t SavefileReader::word(const uint8_t* bytes) const {
  uint32_t value = little_endian(bytes);
  return swapped_ ? byte_swapped(value) : value;
}

std::optional<SavedFrame> SavefileReader::next() {
  uint8_t header[kRecordHeaderSize];
  file_.read(reinterpret_cast<char*>(header), sizeof header);
  if (file_.gcount() == 0) return std::nullopt;
  std::string where = path_ + ": record " + std::to_string(records_read_ + 1);
  if (file_.gcount() != kRecordHeaderSize) throw SavefileError(where + " is cut short");

  uint32_t seconds = word(header), fraction = word(header + 4);
  uint32_t captured = word(header + 8);
  if (captured > kMaxRecordLength)
    throw SavefileError(where + " claims " + std::to_string(captured) + " bytes");

  SavedFrame frame;
  frame.timestamp =
      int64_t(seconds) * 10'000'000 + (nanoseconds_ ? fraction / 100 : fraction * 10LL);
  frame.wire_length = word(header + 12);
  frame.data.resize(captured);
  if (!file_.read(reinterpret_cast<char*>(frame.data.data()), captured))
    throw SavefileError(where + " is cut short");
  ++records_read_;
  return frame;
}

}  // namespace pkdv_capture
