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

TEST(Options, NoArgumentsReadTheSampleWithEightReads) {
  Options options = parsed({});
  EXPECT_EQ(options.mode, Mode::kCapture);
  EXPECT_FALSE(options.adapter);
  EXPECT_EQ(options.reads, 8u);
  EXPECT_EQ(options.count, 0u);
  EXPECT_FALSE(options.quiet);
}

TEST(Options, CaptureOptionsAreTaken) {
  Options options =
      parsed({"-i", "eth0", "-c", "25", "-r", "1024", "-f", "udp port 7", "-w", "out.pcap", "-q"});
  EXPECT_EQ(options.adapter, "eth0");
  EXPECT_EQ(options.count, 25u);
  EXPECT_EQ(options.reads, 1024u);
  EXPECT_EQ(options.filter, "udp port 7");
  EXPECT_EQ(options.write_path, "out.pcap");
  EXPECT_TRUE(options.quiet);
}

TEST(Options, ModesAndTheirAdapter) {
  EXPECT_EQ(parsed({"--list"}).mode, Mode::kList);
  EXPECT_EQ(parsed({"--info", "-i", "eth0"}).mode, Mode::kInfo);
  Options send = parsed({"-i", "eth0", "--send", "frames.pcap", "-q"});
  EXPECT_EQ(send.mode, Mode::kSend);
  EXPECT_EQ(send.send_path, "frames.pcap");
  EXPECT_EQ(parsed({"-q", "--help", "-x"}).mode, Mode::kHelp);  // nothing after it is read
}

TEST(Options, BadNumbersAreRefused) {
  for (std::string_view bad : {"0", "-1", "abc", "12x", "", "99999999999999999999999"})
    EXPECT_NE(error_of({"-c", bad}), "") << bad;
  for (std::string_view bad : {"0", "1025", "8 ", "+8"})
    EXPECT_NE(error_of({"-r", bad}), "") << bad;
}

TEST(Options, MissingValuesAndUnknownArgumentsAreRefused) {
  for (std::string_view option : {"-i", "-c", "-r", "-f", "-w", "--send"})
    EXPECT_EQ(error_of({option}), std::string(option) + " needs a value");
  EXPECT_EQ(error_of({"-x"}), "unknown argument '-x'");
  EXPECT_EQ(error_of({"eth0"}), "unknown argument 'eth0'");
  EXPECT_NE(error_of({"-i", ""}), "");
  EXPECT_NE(error_of({"-w", ""}), "");
}

TEST(Options, CombinationsWithoutMeaningAreRefused) {
  EXPECT_NE(error_of({"--list", "--info"}), "");
  EXPECT_NE(error_of({"--send", "a.pcap", "--send", "b.pcap", "-i", "eth0"}), "");
  EXPECT_NE(error_of({"--list", "-i", "eth0"}), "");
  EXPECT_NE(error_of({"--list", "-c", "3"}), "");
  EXPECT_NE(error_of({"--info"}), "");
  EXPECT_NE(error_of({"--send", "a.pcap"}), "");
  EXPECT_NE(error_of({"--send", "a.pcap", "-i", "eth0", "-w", "b.pcap"}), "");
  EXPECT_NE(error_of({"--info", "-i", "eth0", "-f", "udp"}), "");
}

}  // namespace
}  // namespace pkdv_capture
