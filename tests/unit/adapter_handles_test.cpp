// Open, close, filter and send through the exports, against the scripted
// capture library. The platform reports the NT family here (the default on
// every lane), so routines get the three-argument form.
#include <cstring>
#include <string>
#include <vector>

#include "adapter_fixture.h"
#include "engine/engine.h"

namespace pkdv::testing {
namespace {

using OpenAdapterTest = AdapterTest;
using CloseAdapterTest = AdapterTest;
using SetBPFProgramTest = AdapterTest;
using PacketSendTest = AdapterTest;

TEST_F(OpenAdapterTest, StripsTheDevicePrefixInPlaceAndOpensWithTheFixedParameters) {
  capture::Handle* h = capture_.add_adapter("NPF");
  char name[] = "\\Device\\NPF";
  EXPECT_EQ(PKDV_OpenAdapterA(name), handle(h));

  // Only the three letters and the terminator moved; the rest of the
  // caller's text is as it was.
  EXPECT_EQ(std::string(name, sizeof name), std::string("NPF\0ice\\NPF\0", sizeof name));
  ASSERT_EQ(capture_.opens.size(), 1u);
  EXPECT_EQ(capture_.opens[0].source, "NPF");
  EXPECT_EQ(capture_.opens[0].snapshot_length, 65536);
  EXPECT_EQ(capture_.opens[0].flags, 0) << "not promiscuous";
  EXPECT_EQ(capture_.opens[0].read_timeout_ms, 1);

  capture::Handle* empty = capture_.add_adapter("");
  char prefix_alone[] = "\\Device\\";
  EXPECT_EQ(PKDV_OpenAdapterA(prefix_alone), handle(empty));
  EXPECT_EQ(prefix_alone[0], '\0') << "the prefix alone leaves an empty name";

  capture_.open_error = "adapter is gone";
  char missing[] = "\\Device\\missing";
  EXPECT_EQ(PKDV_OpenAdapterA(missing), PKDV_INVALID_ADAPTER);
  EXPECT_STREQ(missing, "missing") << "a failed open strips the prefix too";
}

TEST_F(OpenAdapterTest, NamesWithoutTheExactLeadingPrefixAreOpenedUnchanged) {
  const std::vector<std::string> names = {
      "\\Devic", "\\device\\NPF", "\\DEVICE\\NPF", "x\\Device\\NPF", "rpcap://\\Device\\NPF", ""};
  for (const std::string& original : names) {
    capture::Handle* h = capture_.add_adapter(original);
    std::string text = original;
    EXPECT_EQ(PKDV_OpenAdapterA(text.data()), handle(h)) << original;
    EXPECT_EQ(text, original);
    EXPECT_EQ(capture_.opens.back().source, original);
  }
}

TEST_F(OpenAdapterTest, NullAndWideNamesGiveMinusOneWithoutOpening) {
  EXPECT_EQ(PKDV_OpenAdapterA(nullptr), PKDV_INVALID_ADAPTER);
  capture_.add_adapter("NPF");
  EXPECT_EQ(PKDV_OpenAdapterW(L"NPF"), PKDV_INVALID_ADAPTER);
  EXPECT_TRUE(capture_.opens.empty());
}

TEST_F(OpenAdapterTest, RunningOutOfMemoryInTheCaptureUnitIsAFailedOpen) {
  capture_.add_adapter("NPF");
  capture_.out_of_memory = true;
  char name[] = "NPF";
  AdapterHandle result = 0;
  EXPECT_NO_THROW(result = PKDV_OpenAdapterA(name));
  EXPECT_EQ(result, PKDV_INVALID_ADAPTER);
}

// Closing an adapter closes its capture handle and hands its pending reads
// back as failures, in the order they were posted and without a sequence number; a poller pass that runs the
// moment the handle is closed finds no read left on it, while the reads on
// another adapter are served as before.
TEST_F(CloseAdapterTest, PendingReadsFailBeforeTheHandleClosesAndOtherAdaptersReadOn) {
  AdapterHandle closing = open_adapter("closing");
  AdapterHandle staying = open_adapter("staying");
  std::vector<std::vector<std::uint8_t>> storage;
  std::uint32_t transferred = 0;
  const auto post = [&](AdapterHandle adapter, std::uintptr_t context) {
    storage.emplace_back(PKDV_PACKET_BUFFER_HEADER_SIZE + 64);
    auto* buffer = reinterpret_cast<PacketBuffer*>(storage.back().data());
    buffer->capacity = 64;
    EXPECT_EQ(PKDV_PacketReadEx(adapter, buffer, &transferred, context, record_nt_form), 1u);
    return buffer;
  };
  post(closing, 1);
  const PacketBuffer* on_staying = post(staying, 2);
  post(closing, 3);
  capture_.push_frame(capture_handle(staying), std::vector<std::uint8_t>(20, 0xAB));
  capture_.on_close = [](capture::Handle*) { engine::poll_pass(); };

  EXPECT_EQ(PKDV_CloseAdapter(closing), 1);
  EXPECT_EQ(capture_.closed, (std::vector<capture::Handle*>{capture_handle(closing)}));
  EXPECT_EQ(capture_.adapter(capture_handle(closing)).polls, 0)
      << "a closed handle is never polled";
  sys::wait_alertable(0);
  ASSERT_EQ(routines_.calls.size(), 3u);
  EXPECT_EQ(routines_.calls[0].context, 1u);
  EXPECT_EQ(routines_.calls[0].status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(routines_.calls[1].context, 3u);
  EXPECT_EQ(routines_.calls[1].status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(routines_.calls[2].context, 2u);
  EXPECT_EQ(routines_.calls[2].status, NDIS_STATUS_SUCCESS);
  // The 64-bit field sits on a 4-byte boundary: read it by value.
  const std::uint64_t staying_sequence = on_staying->sequence;
  EXPECT_EQ(staying_sequence, 1u) << "failed reads consume no sequence number";
}

TEST_F(CloseAdapterTest, NullAndMinusOneAreIgnored) {
  EXPECT_EQ(PKDV_CloseAdapter(0), 1);
  EXPECT_EQ(PKDV_CloseAdapter(PKDV_INVALID_ADAPTER), 1);
  EXPECT_TRUE(capture_.closed.empty());
}

TEST_F(SetBPFProgramTest, HandsLengthOverEightInstructionsAndFollowsTheCaptureResult) {
  AdapterHandle adapter = open_adapter("eth0");
  ScriptedAdapter& a = capture_.adapter(capture_handle(adapter));
  // ld [12]; ret #96; and a third that the length leaves out.
  const std::uint8_t program[24] = {0x20, 0, 0, 0, 12, 0, 0, 0, 0x06, 0, 0, 0, 96, 0, 0, 0};

  EXPECT_EQ(PKDV_SetBPFProgram(adapter, program, 20), 1);
  a.filter_result = -1;
  EXPECT_EQ(PKDV_SetBPFProgram(adapter, program, 16), 0);
  // No instruction at all is no program: refused before the capture library.
  EXPECT_EQ(PKDV_SetBPFProgram(adapter, program, 7), 0);

  EXPECT_EQ(a.filter_counts, (std::vector<std::uint32_t>{2, 2}));
}

TEST_F(SetBPFProgramTest, RefusesWhatCannotBeInstalled) {
  EXPECT_EQ(PKDV_SetBPFProgram(0, "", 0), 0);
  EXPECT_EQ(PKDV_SetBPFProgram(PKDV_INVALID_ADAPTER, "", 0), 0);
  AdapterHandle adapter = open_adapter("eth0");
  // No program at all is refused, whatever length comes with it.
  EXPECT_EQ(PKDV_SetBPFProgram(adapter, nullptr, 8), 0);
  EXPECT_EQ(PKDV_SetBPFProgram(adapter, nullptr, 7), 0);
  EXPECT_EQ(PKDV_SetBPFProgram(adapter, nullptr, 0), 0);
  EXPECT_TRUE(capture_.adapter(capture_handle(adapter)).filter_counts.empty());
}

TEST_F(PacketSendTest, RoutineRunsInTheCallingThreadAfterTheSendAndBeforeTheReturn) {
  AdapterHandle adapter = open_adapter("eth0");
  ScriptedAdapter& a = capture_.adapter(capture_handle(adapter));
  std::size_t frames_sent_when_called = 0;
  routines_.on_call = [&] { frames_sent_when_called = a.sent.size(); };
  const std::uint8_t frame[5] = {1, 2, 3, 4, 5};
  std::uint32_t sent = 0xFFFF;

  EXPECT_EQ(PKDV_PacketSendEx(adapter, frame, sizeof frame, &sent, 77, record_nt_form),
            NDIS_STATUS_SUCCESS);
  EXPECT_EQ(sent, 5u);
  ASSERT_EQ(a.sent.size(), 1u);
  EXPECT_EQ(a.sent[0], std::vector<std::uint8_t>(frame, frame + 5));
  ASSERT_EQ(routines_.calls.size(), 1u);
  const RoutineCall& call = routines_.calls[0];
  EXPECT_EQ(call.arguments, 3);
  EXPECT_EQ(call.status, NDIS_STATUS_SUCCESS);
  EXPECT_EQ(call.count, 5u);
  EXPECT_EQ(call.context, 77u);
  EXPECT_EQ(call.thread, sys::current_thread_id());
  EXPECT_EQ(frames_sent_when_called, 1u);
}

TEST_F(PacketSendTest, RefusedSendReportsFailureToTheRoutineWithNothingSent) {
  AdapterHandle adapter = open_adapter("eth0");
  capture_.adapter(capture_handle(adapter)).send_result = -1;
  const std::uint8_t frame[3] = {};
  std::uint32_t sent = 0xFFFF;

  EXPECT_EQ(PKDV_PacketSendEx(adapter, frame, sizeof frame, &sent, 4, record_nt_form),
            NDIS_STATUS_FAILURE);
  EXPECT_EQ(sent, 0u);
  ASSERT_EQ(routines_.calls.size(), 1u);
  EXPECT_EQ(routines_.calls[0].status, NDIS_STATUS_FAILURE);
  EXPECT_EQ(routines_.calls[0].count, 0u);
  EXPECT_EQ(routines_.calls[0].context, 4u);
}

// A missing frame, handle or count fails without sending and still calls the
// routine; only a missing routine is no failure.
TEST_F(PacketSendTest, MissingArgumentsFailWithoutSendingAndANullRoutineIsSkipped) {
  AdapterHandle adapter = open_adapter("eth0");
  const std::uint8_t frame[3] = {};
  std::uint32_t sent = 0xFFFF;
  EXPECT_EQ(PKDV_PacketSendEx(adapter, nullptr, 3, &sent, 1, record_nt_form), NDIS_STATUS_FAILURE);
  EXPECT_EQ(sent, 0u);
  EXPECT_EQ(PKDV_PacketSendEx(0, frame, 3, &sent, 2, record_nt_form), NDIS_STATUS_FAILURE);
  EXPECT_EQ(PKDV_PacketSendEx(PKDV_INVALID_ADAPTER, frame, 3, &sent, 3, record_nt_form),
            NDIS_STATUS_FAILURE);
  EXPECT_EQ(PKDV_PacketSendEx(adapter, frame, 3, nullptr, 4, record_nt_form), NDIS_STATUS_FAILURE);

  EXPECT_TRUE(capture_.adapter(capture_handle(adapter)).sent.empty());
  ASSERT_EQ(routines_.calls.size(), 4u);
  for (const RoutineCall& call : routines_.calls) {
    EXPECT_EQ(call.status, NDIS_STATUS_FAILURE);
    EXPECT_EQ(call.count, 0u);
  }

  EXPECT_EQ(PKDV_PacketSendEx(adapter, frame, 3, &sent, 6, nullptr), NDIS_STATUS_SUCCESS);
  EXPECT_EQ(sent, 3u);
  EXPECT_EQ(capture_.adapter(capture_handle(adapter)).sent.size(), 1u);
}

}  // namespace
}  // namespace pkdv::testing
