#include "savefile_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace pkdv_capture {
namespace {

// Writes savefile bytes to a file of this test's own and removes it afterwards.
class SavefileReaderTest : public ::testing::Test {
 protected:
  void TearDown() override { std::filesystem::remove(path_); }

  void put32(uint32_t value, bool big_endian = false) {
    for (int i = 0; i < 4; ++i)
      bytes_.push_back(uint8_t(value >> (big_endian ? 24 - 8 * i : 8 * i)));
  }
  void header(uint32_t magic, uint32_t link_type = 1, bool big_endian = false) {
    put32(magic, big_endian);
    put32(0x00040002, big_endian);  // version 2.4 as two 16-bit halves; never read
    put32(0, big_endian);
    put32(0, big_endian);
    put32(65535, big_endian);
    put32(link_type, big_endian);
  }
  void record(uint32_t seconds, uint32_t fraction, std::vector<uint8_t> data, uint32_t wire,
              bool big_endian = false) {
    put32(seconds, big_endian);
    put32(fraction, big_endian);
    put32(uint32_t(data.size()), big_endian);
    put32(wire, big_endian);
    bytes_.insert(bytes_.end(), data.begin(), data.end());
  }
  const std::string& file() {
    std::ofstream(path_, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes_.data()), std::streamsize(bytes_.size()));
    return path_;
  }
  std::string error_opening() {
    try {
      SavefileReader reader(file());
    } catch (const SavefileError& error) {
      return error.what();
    }
    return "";
  }
  std::string error_reading() {
    try {
      SavefileReader reader(file());
      while (reader.next()) {
      }
    } catch (const SavefileError& error) {
      return error.what();
    }
    return "";
  }

  std::vector<uint8_t> bytes_;
  std::string path_ = (std::filesystem::temp_directory_path() /
                       (std::string("pkdv-client-") +
                        ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".pcap"))
                          .string();
};

TEST_F(SavefileReaderTest, ReadsFramesInOrderWithTimes) {
  header(0xA1B2C3D4);
  record(1, 5, {1, 2, 3}, 60);
  record(1714564800, 999999, {}, 0);
  SavefileReader reader(file());
  EXPECT_EQ(reader.link_type(), 1u);
  auto first = reader.next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->timestamp, 10'000'050);
  EXPECT_EQ(first->wire_length, 60u);
  EXPECT_EQ(first->data, (std::vector<uint8_t>{1, 2, 3}));
  auto second = reader.next();
  ASSERT_TRUE(second);
  EXPECT_EQ(second->timestamp, 17'145'648'009'999'990);
  EXPECT_TRUE(second->data.empty());
  EXPECT_FALSE(reader.next());
  EXPECT_FALSE(reader.next());
}

TEST_F(SavefileReaderTest, BigEndianAndNanosecondFiles) {
  header(0xA1B23C4D, 1, /*big_endian=*/true);
  record(2, 123456789, {9}, 1, true);
  SavefileReader reader(file());
  auto frame = reader.next();
  ASSERT_TRUE(frame);
  EXPECT_EQ(frame->timestamp, 21'234'567);  // nanoseconds / 100
  EXPECT_EQ(frame->wire_length, 1u);
}

TEST_F(SavefileReaderTest, LinkTypeLeavesOutTheFcsBits) {
  header(0xA1B2C3D4, 0x10000000 | 105);
  EXPECT_EQ(SavefileReader(file()).link_type(), 105u);
}

TEST_F(SavefileReaderTest, FilesThatAreNotSavefiles) {
  EXPECT_NE(error_opening(), "");  // empty
  header(0x0A0D0D0A);
  EXPECT_NE(error_opening().find("pcapng"), std::string::npos);
  bytes_.clear();
  header(0x12345678);
  EXPECT_NE(error_opening().find("not a pcap savefile"), std::string::npos);
  bytes_.resize(10);
  EXPECT_NE(error_opening().find("too short"), std::string::npos);
  std::filesystem::remove(path_);
  EXPECT_THROW(SavefileReader(path_ + ".missing"), SavefileError);
}

TEST_F(SavefileReaderTest, CutAndOversizedRecordsAreErrors) {
  header(0xA1B2C3D4);
  record(1, 0, {1, 2, 3, 4}, 4);
  bytes_.pop_back();
  EXPECT_NE(error_reading().find("record 1 is cut short"), std::string::npos);

  bytes_.clear();
  header(0xA1B2C3D4);
  record(1, 0, {1}, 1);
  bytes_.insert(bytes_.end(), {0, 0, 0, 0, 0, 0});  // half a record header
  EXPECT_NE(error_reading().find("record 2 is cut short"), std::string::npos);

  bytes_.clear();
  header(0xA1B2C3D4);
  put32(1), put32(0), put32(SavefileReader::kMaxRecordLength + 1), put32(60);
  EXPECT_NE(error_reading().find("claims 262145 bytes"), std::string::npos);
}

}  // namespace
}  // namespace pkdv_capture
