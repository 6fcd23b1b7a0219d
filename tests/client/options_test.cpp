#include <gtest/gtest.h>

#include <initializer_list>
#include <string_view>
#include <vector>

#include "options.h"

namespace pkdv_capture {
namespace {

std::variant<Options, UsageError> parse(std::initializer_list<std::string_view> arguments) {
  std::vector<std::string_view> list(arguments);
  return parse_options(list);
}

Options parsed(std::initializer_list<std::string_view> arguments) {
  auto result = parse(arguments);
  EXPECT_TRUE(std::holds_alternative<Options>(result)) << std::get<UsageError>(result).message;
  return std::holds_alternative<Options>(result) ? std::get<Options>(result) : Options{};
}

std::string error_of(std::initializer_list<std::string_view> arguments) {
  auto result = parse(arguments);
  return std::holds_alternative<UsageError>(result) ? std::get<UsageError>(result).message : "";
}

TEST(Options, NoArgumentsCaptureWithFourThousandReads) {
  Options options = parsed({});
  EXPECT_EQ(options.mode, Mode::kCapture);
  EXPECT_FALSE(options.adapter);
  EXPECT_EQ(options.reads, 4096u);
  EXPECT_EQ(options.count, 0u);
  EXPECT_EQ(options.snapshot_length, kMaxSnapshotLength);
  EXPECT_TRUE(options.promiscuous);
  EXPECT_FALSE(options.quiet || options.utc || options.link_header || options.verbose);
}

TEST(Options, CaptureOptionsAreTaken) {
  Options options = parsed({"-i", "eth0", "-c", "25", "--reads", "16384", "-f", "udp port 7", "-w",
                            "out.pcap", "-q", "-s", "96", "--utc"});
  EXPECT_EQ(options.adapter, "eth0");
  EXPECT_EQ(options.count, 25u);
  EXPECT_EQ(options.reads, 16384u);
  EXPECT_EQ(options.filter, "udp port 7");
  EXPECT_EQ(options.write_path, "out.pcap");
  EXPECT_EQ(options.snapshot_length, 96u);
  EXPECT_TRUE(options.quiet && options.utc);
  EXPECT_EQ(parsed({"-s", "0"}).snapshot_length, kMaxSnapshotLength);
}

// tcpdump's habits: values stuck to their letter, grouped flags, -r FILE, a trailing filter.
TEST(Options, TcpdumpHabits) {
  Options options = parsed({"-nevp", "-c5", "-i2", "-X", "-w-", "tcp", "port", "80"});
  EXPECT_EQ(options.count, 5u);
  EXPECT_EQ(options.adapter, "2");
  EXPECT_TRUE(options.link_header && options.verbose);
  EXPECT_FALSE(options.promiscuous);
  EXPECT_TRUE(options.hex_dump == 1 && options.hex_ascii);
  EXPECT_TRUE(options.writes_to_stdout());
  EXPECT_EQ(options.filter, "tcp port 80");
  EXPECT_EQ(parsed({"-x"}).hex_dump, 1);
  EXPECT_EQ(parsed({"-xx"}).hex_dump, 2);
  EXPECT_EQ(parsed({"-tttAlU#"}).time_letters, 3);
  EXPECT_EQ(parsed({"-c", "1", "--", "-host-", "x"}).filter, "-host- x");
  EXPECT_EQ(parsed({"-Qout"}).direction, Direction::kOut);
  EXPECT_EQ(parsed({"-F", "f.bpf"}).filter_file, "f.bpf");
  EXPECT_EQ(parsed({"-r", "in.pcapng"}).read_path, "in.pcapng");
  EXPECT_EQ(parsed({"-D"}).mode, Mode::kList);
  EXPECT_EQ(parsed({"--version"}).mode, Mode::kVersion);
}

TEST(Options, ModesAndTheirAdapter) {
  EXPECT_EQ(parsed({"--list"}).mode, Mode::kList);
  EXPECT_EQ(parsed({"--info", "-i", "eth0"}).mode, Mode::kInfo);
  Options send = parsed({"-i", "eth0", "--send", "frames.pcap", "-q"});
  EXPECT_EQ(send.mode, Mode::kSend);
  EXPECT_EQ(send.send_path, "frames.pcap");
  EXPECT_EQ(send.pacing, Pacing::kAsCaptured);
  Options rate = parsed({"-i", "eth0", "--send", "f.pcap", "--rate", "500"});
  EXPECT_EQ(rate.pacing, Pacing::kFixedRate);
  EXPECT_EQ(rate.rate, 500u);
  EXPECT_EQ(parsed({"-i", "eth0", "--send", "f.pcap", "--top-speed"}).pacing, Pacing::kTopSpeed);
  EXPECT_EQ(parsed({"-q", "--help", "-Z"}).mode, Mode::kHelp);  // nothing after it is read
  EXPECT_EQ(parsed({"-qh"}).mode, Mode::kHelp);
}

TEST(Options, BadNumbersAreRefused) {
  for (std::string_view bad : {"0", "-1", "abc", "12x", "", "99999999999999999999999"})
    EXPECT_NE(error_of({"-c", bad}), "") << bad;
  for (std::string_view bad : {"0", "16385", "8 ", "+8"})
    EXPECT_NE(error_of({"--reads", bad}), "") << bad;
  EXPECT_NE(error_of({"-s", "262145"}), "");
  EXPECT_NE(error_of({"-i", "e", "--send", "f", "--rate", "0"}), "");
}

TEST(Options, MissingValuesAndUnknownArgumentsAreRefused) {
  for (std::string_view option : {"-i", "-c", "-r", "-f", "-w", "-s", "--send", "--reads"})
    EXPECT_EQ(error_of({option}), std::string(option) + " needs a value");
  EXPECT_EQ(error_of({"-Z"}), "unknown argument '-Z'");
  EXPECT_EQ(error_of({"--bogus"}), "unknown argument '--bogus'");
  EXPECT_NE(error_of({"-i", ""}), "");
  EXPECT_NE(error_of({"-w", ""}), "");
}

TEST(Options, CombinationsWithoutMeaningAreRefused) {
  EXPECT_NE(error_of({"--list", "--info"}), "");
  EXPECT_NE(error_of({"--send", "a.pcap", "--send", "b.pcap", "-i", "eth0"}), "");
  EXPECT_NE(error_of({"--list", "-i", "eth0"}), "");
  EXPECT_NE(error_of({"-D", "-c", "3"}), "");
  EXPECT_NE(error_of({"-D", "udp"}), "");
  EXPECT_NE(error_of({"--info"}), "");
  EXPECT_NE(error_of({"--send", "a.pcap"}), "");
  EXPECT_NE(error_of({"--send", "a.pcap", "-i", "eth0", "-w", "b.pcap"}), "");
  EXPECT_NE(error_of({"--info", "-i", "eth0", "-f", "udp"}), "");
  EXPECT_NE(error_of({"-r", "a.pcap", "-i", "eth0"}), "");
  EXPECT_NE(error_of({"-f", "udp", "tcp"}), "");
  EXPECT_NE(error_of({"--rate", "5"}), "");
}

}  // namespace
}  // namespace pkdv_capture
