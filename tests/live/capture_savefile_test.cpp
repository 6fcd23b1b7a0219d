// The real capture unit on savefiles and on sources it must refuse; no root
// and no network needed.
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "netns.h"
#include "capture/bpf_program.h"
#include "capture/capture.h"
#include "platform/platform.h"
#include "savefile_writer.h"

namespace pkdv::capture {
namespace {

using testing::SavedFrame;

class Savefile : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "pkdv-savefile-" + std::to_string(getpid()) + ".pcap";
  }
  void TearDown() override { unlink(path_.c_str()); }

  void write(const std::vector<SavedFrame>& frames) {
    ASSERT_TRUE(testing::write_savefile(path_, frames));
  }

  Handle* open_savefile() {
    char error[kErrorBufferSize] = {};
    Handle* handle = open(source().c_str(), 65536, 0, 1, error);
    EXPECT_NE(handle, nullptr) << error;
    return handle;
  }

  std::string source() const { return "file://" + path_; }

  std::string path_;
};

TEST_F(Savefile, KnowsItsNameAndHasNoDriver) {
  write({});
  Handle* handle = open_savefile();
  ASSERT_NE(handle, nullptr);
  EXPECT_STREQ(adapter_name(handle), source().c_str());
  EXPECT_EQ(driver(handle), nullptr);
  close(handle);
  EXPECT_EQ(adapter_name(handle), nullptr) << "close forgets the handle";
}

// On a savefile the capture unit runs the program itself, so that the length
// it returns cuts the frame: its verdict on every frame of the sample must be
// libpcap's own for what libpcap compiles (indirect loads, header lengths,
// scratch memory, arithmetic, VLAN and IPv6).
TEST(SavefilePrograms, DecideEveryFrameAsLibpcapDoes) {
  for (const char* expression :
       {"udp or arp or icmp6 or (vlan and icmp)", "tcp[tcpflags] & tcp-syn != 0",
        "tcp port 80 and ip[2:2] - ((ip[0] & 0xf) << 2) - ((tcp[12] & 0xf0) >> 2) > 0",
        "ip6 and (ip6[6] == 58 or udp)", "len > 100 or ether[0] & 1 = 1",
        "vlan and ip[8] % 7 < 6"}) {
    SCOPED_TRACE(expression);
    char error[PCAP_ERRBUF_SIZE] = {};
    pcap_t* file = pcap_open_offline(PKDV_SAMPLE_SAVEFILE, error);
    ASSERT_NE(file, nullptr) << error;
    bpf_program compiled{};
    ASSERT_EQ(pcap_compile(file, &compiled, expression, 1, PCAP_NETMASK_UNKNOWN), 0);
    bpf::Program program;
    ASSERT_TRUE(bpf::read_valid_program(compiled.bf_insns, compiled.bf_len, &program));
    pcap_pkthdr* header = nullptr;
    const u_char* data = nullptr;
    int kept = 0;
    while (pcap_next_ex(file, &header, &data) == 1) {
      const std::uint32_t ours = bpf::run(program, data, header->len, header->caplen);
      ASSERT_EQ(ours, bpf_filter(compiled.bf_insns, data, header->len, header->caplen));
      kept += ours != 0;
    }
    EXPECT_GT(kept, 0) << "the sample has frames that the expression keeps";
    pcap_freecode(&compiled);
    pcap_close(file);
  }
}

TEST_F(Savefile, EmptyOrMissingFilterProgramIsRefusedWithoutHarm) {
  write({{1, 0, testing::test_frame(0x0800, 60)}});
  Handle* handle = open_savefile();
  ASSERT_NE(handle, nullptr);
  const bpf_insn accept_all = BPF_STMT(BPF_RET | BPF_K, 65536);
  EXPECT_EQ(set_filter(handle, 0, &accept_all), -1);
  EXPECT_EQ(set_filter(handle, 0, nullptr), -1);
  EXPECT_EQ(set_filter(handle, 4, nullptr), -1);

  FrameHeader header{};
  const std::uint8_t* data = nullptr;
  EXPECT_EQ(next_frame(handle, &header, &data), 1) << "a refused filter changes nothing";
  close(handle);
}

// Open failures: nullptr, a text that says why, within the 260 bytes, and the
// reason as a platform error code.
struct RefusedSource {
  std::string source;
  std::string reason;  // a part of the error text
  std::uint32_t code;  // the last error
  // When set, `source` is "file://" and a file of these bytes whose path is
  // appended to it.
  std::optional<std::string> contents = std::nullopt;
};

void PrintTo(const RefusedSource& refused, std::ostream* out) {
  *out << refused.source.substr(0, 48) << (refused.source.size() > 48 ? "..." : "");
}

class RefusedOpen : public ::testing::TestWithParam<RefusedSource> {};

TEST_P(RefusedOpen, GivesNullAndAnErrorText) {
  std::string source = GetParam().source;
  const std::string path = ::testing::TempDir() + "pkdv-refused-" + std::to_string(getpid());
  if (GetParam().contents) {
    FILE* file = std::fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr);
    std::fwrite(GetParam().contents->data(), 1, GetParam().contents->size(), file);
    std::fclose(file);
    source += path;
  }
  char error[kErrorBufferSize + 16];
  std::memset(error, 'X', sizeof error);
  error[0] = '\0';
  sys::set_last_error(0);
  EXPECT_EQ(open(source.c_str(), 65536, 0, 1, error), nullptr);
  if (GetParam().contents) unlink(path.c_str());
  EXPECT_EQ(sys::last_error(), GetParam().code);
  std::size_t length = strnlen(error, kErrorBufferSize);
  EXPECT_LT(length, static_cast<std::size_t>(kErrorBufferSize)) << "error text not terminated";
  EXPECT_GT(length, 0u);
  EXPECT_NE(std::string(error).find(GetParam().reason), std::string::npos) << error;
  for (std::size_t i = kErrorBufferSize; i < sizeof error; ++i) {
    ASSERT_EQ(error[i], 'X') << "error text overran its buffer";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, RefusedOpen,
    ::testing::Values(
        RefusedSource{"file:///nonexistent/pkdv-missing.pcap", "pkdv-missing.pcap",
                      sys::kErrorFileNotFound},
        RefusedSource{"file:///nonexistent/" + std::string(600, 'n'), "nnnn",
                      sys::kErrorFileNotFound},
        RefusedSource{"file://", "", sys::kErrorFileNotFound},
        RefusedSource{"file://" + ::testing::TempDir(), "", sys::kErrorAccessDenied},
        RefusedSource{"file://", "", sys::kErrorBadFormat,
                      "just some text, certainly not frames\n"},
        RefusedSource{"file://", "", sys::kErrorFileCorrupt,
                      std::string("\xd4\xc3\xb2\xa1\x02\x00", 6)},
        RefusedSource{"file://", "", sys::kErrorFileCorrupt, ""},
        RefusedSource{"rpcap://192.0.2.1/eth0", "only local adapters", sys::kErrorNotSupported},
        RefusedSource{"rpcap://[2001:db8::1]:2002/eth0", "only local adapters",
                      sys::kErrorNotSupported},
        RefusedSource{"rpcaps://192.0.2.1/eth0", "only local adapters", sys::kErrorNotSupported},
        RefusedSource{"ftp://192.0.2.1/eth0", "only local adapters", sys::kErrorNotSupported},
        RefusedSource{"rpcap://" + std::string(400, 'h') + "/eth0", "only local adapters",
                      sys::kErrorNotSupported},
        RefusedSource{"rpcap://pkdvnosuch0", "pkdvnosuch0", sys::kErrorDevNotExist},
        RefusedSource{"pkdvnosuch1", "pkdvnosuch1", sys::kErrorDevNotExist}));

TEST(CaptureEnumeration, RefusesSourcesOtherThanTheLocalAdapters) {
  for (const char* source : {"rpcap://192.0.2.1/", "rpcap://192.0.2.1:2002/", "file:///tmp/"}) {
    char error[kErrorBufferSize] = {};
    Device* list = reinterpret_cast<Device*>(&error);  // must be reset
    EXPECT_EQ(find_all_devices(source, &list, error), -1) << source;
    EXPECT_EQ(list, nullptr);
    EXPECT_GT(std::strlen(error), 0u) << source;
  }
}

}  // namespace
}  // namespace pkdv::capture
