// Reading and writing one setting: the reply checks, the transaction id and the port close after
// a short reply, against a byte-exact peer and against the emulated adapter.
#include <gtest/gtest.h>

#include <cstring>

#include "emulator/emulated_adapter.h"
#include "settings/device_settings.h"
#include "tests/support/peer_port_test.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

using testing::Bytes;
using testing::FromHex;
using testing::ScriptedPeer;

// ---- The reply scan on its own ----------------------------------------------------------------

struct ParseCase {
    const char *name;
    const char *reply;  // exactly the counted bytes, nothing after them
    std::uint32_t value;
};

void PrintTo(const ParseCase &c, std::ostream *out) {
    *out << c.name;
}

class ReplyScan : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ReplyScan, TakesTheValueAfterTheFirstMarkerOnly) {
    const ParseCase &c = GetParam();
    // The bytes sit in a buffer of exactly their size: a scan past the count is a fault the
    // address sanitizer reports.
    const Bytes bytes = FromHex(c.reply);
    auto exact = std::make_unique<unsigned char[]>(bytes.size());
    std::memcpy(exact.get(), bytes.data(), bytes.size());
    EXPECT_EQ(ParseSettingReply(exact.get(), static_cast<int>(bytes.size())), c.value);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, ReplyScan, ::testing::Values(
    ParseCase{"Valid",             "58 53 07 05 EE 04 2C 01 00 00",          300},
    ParseCase{"IdAndOptionIgnored","58 53 07 99 EE 77 01 00 00 00",          1},
    ParseCase{"FullWidthValue",    "58 53 07 01 EE 01 78 56 34 12",          0x12345678},
    ParseCase{"LeadingNoise",      "00 58 58 53 07 01 EE 01 2C 01 00 00",    300},
    ParseCase{"MarkerTooLate",     "00 58 53 07 01 EE 01 2C 01 00",          ParamFail},
    ParseCase{"NoMarker",          "53 58 07 01 EE 01 2C 01 00 00",          ParamFail},
    ParseCase{"WrongLength",       "58 53 06 01 EE 01 2C 01 00 00",          ParamFail},
    ParseCase{"WrongStatus",       "58 53 07 01 E1 01 2C 01 00 00",          ParamFail},
    ParseCase{"ValidAfterRejected","58 53 06 01 EE 01 58 53 07 01 EE 01 2C 01 00 00", ParamFail},
    ParseCase{"ValueReadsSXSX",    "58 53 07 01 EE 01 53 58 53 58",          ParamFail},
    ParseCase{"TooFewBytes",       "58 53 07 01 EE 01 2C 01 00",             ParamFail},
    ParseCase{"MarkerInLastByte",  "00 00 00 00 00 00 00 00 00 58",          ParamFail}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST(ReplyScanBounds, NegativeOrZeroCountFindsNothing) {
    const Bytes valid = FromHex("58 53 07 05 EE 04 2C 01 00 00");
    EXPECT_EQ(ParseSettingReply(valid.data(), 0), ParamFail);
    EXPECT_EQ(ParseSettingReply(valid.data(), -5), ParamFail);
    EXPECT_EQ(ParseSettingReply(nullptr, 10), ParamFail);
}

// ---- One read or write against a byte-exact peer ----------------------------------------------

Bytes SettingFrame(int code, int id, std::uint8_t option, std::uint8_t value = 0) {
    FrameInputs inputs;
    inputs.g_tx_id = id;
    inputs.bOptions = option;
    inputs.bOptionsValue = value;
    unsigned char frame[kMaxFrameSize];
    const std::size_t length = BuildFrame(code, inputs, frame);
    return Bytes(frame, frame + length);
}

class OneSetting : public testing::PeerPortTest {
  protected:
    void SetUp() override {
        PeerPortTest::SetUp();
        session.g_tx_id = 7;
    }
};

TEST_F(OneSetting, ReplyWithLeadingNoiseCountedInTwoReadsIsAccepted) {
    // Twelve bytes arrive in two pieces, so the read counts all twelve; the marker is at 2.
    peer.Then(SettingFrame(kCmdReadSetting, 7, 4),
              {FromHex("00 FF 58 53 07"), FromHex("07 EE 04 0A 00 00 00")}, 30);
    peer.Start();
    Open();
    EXPECT_EQ(GetDeviceParameters(session, 4), 10u);
    EXPECT_EQ(session.RealReadCnt, 12);
    EXPECT_EQ(session.g_tx_id, 8);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(OneSetting, RejectedReplyStillUsesUpItsId) {
    peer.Then(SettingFrame(kCmdReadSetting, 7, 1), {FromHex("58 53 07 07 E1 01 00 00 00 00")});
    peer.Start();
    Open();
    EXPECT_EQ(GetDeviceParameters(session, 1), ParamFail);
    EXPECT_EQ(session.g_tx_id, 8);
    EXPECT_NE(session.hComm, 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(OneSetting, ShortReplyClosesThePortAndTheRetryReopensIt) {
    peer.Then(SettingFrame(kCmdReadSetting, 7, 5), {FromHex("58 53 07 07 EE")});
    peer.Then(SettingFrame(kCmdReadSetting, 8, 5), {FromHex("58 53 07 08 EE 05 BE 00 00 00")});
    peer.Start();
    Open();
    EXPECT_EQ(GetDeviceParameters(session, 5), ParamFail);
    EXPECT_EQ(session.hComm, 0);
    EXPECT_EQ(session.g_tx_id, 8);
    EXPECT_EQ(GetDeviceParameters(session, 5), 190u);
    EXPECT_NE(session.hComm, 0);
    EXPECT_EQ(peer.Finish(), "");
}

TEST_F(OneSetting, FailedExchangeLeavesTheIdAndThePort) {
    // One byte fails at once; silence fails after the exchange's second attempt.
    peer.Then(SettingFrame(kCmdReadSetting, 7, 2), {FromHex("58")});
    peer.Then(SettingFrame(kCmdReadSetting, 7, 2));
    peer.Then(SettingFrame(kCmdReadSetting, 7, 2));
    peer.Start();
    Open();
    EXPECT_EQ(GetDeviceParameters(session, 2), ParamFail);
    EXPECT_EQ(GetDeviceParameters(session, 2), ParamFail);
    EXPECT_EQ(session.g_tx_id, 7);
    EXPECT_NE(session.hComm, 0);
    EXPECT_EQ(peer.Finish(), "");
}

struct WriteCase {
    const char *name;
    std::vector<Bytes> answer;
    std::uint32_t result;
    int id_after;
};

void PrintTo(const WriteCase &c, std::ostream *out) {
    *out << c.name;
}

class OneWrite : public OneSetting, public ::testing::WithParamInterface<WriteCase> {};

TEST_P(OneWrite, SucceedsExactlyWhenTheExchangeDoes) {
    const WriteCase &c = GetParam();
    peer.Then(SettingFrame(kCmdWriteSetting, 7, 5, 4), c.answer);
    peer.Start();
    Open();
    EXPECT_EQ(SetDeviceParameters(session, 5, 4), c.result);
    EXPECT_EQ(session.bOptionsValue, 4);
    EXPECT_EQ(session.g_tx_id, c.id_after);
    EXPECT_EQ(peer.Finish(), "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, OneWrite, ::testing::Values(
    WriteCase{"Full",       {FromHex("58 53 07 07 EE 05 04 00 00 00")}, 0,         8},
    WriteCase{"ContentNotExamined", {FromHex("00 00 00 00 00 00 00 00 00 00")}, 0, 8},
    WriteCase{"ThreeBytes", {FromHex("58 53 07")},                      0,         8},
    WriteCase{"OneByte",    {FromHex("58")},                            ParamFail, 7}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

// ---- The transaction id on the wire -----------------------------------------------------------

TEST(TransactionId, WrapsToZeroOnTheWireAfter255Exchanges) {
    emulator::EmulatedAdapter adapter;
    ASSERT_TRUE(adapter.Start());
    LinkSession session;
    std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s",
                  adapter.DevicePath().c_str());
    session.g_tx_id = 1;
    for (int i = 0; i < 255; ++i) ASSERT_NE(GetDeviceParameters(session, 1), ParamFail) << i;
    ASSERT_EQ(GetDeviceParameters(session, 1), 1u);
    ClosePort(session);

    std::vector<int> wire_ids;
    for (const emulator::FrameRecord &record : adapter.Frames()) {
        if (record.kind == emulator::RecordKind::kFrame && record.code == kCmdReadSetting) {
            wire_ids.push_back(record.bytes.at(3));
        }
    }
    ASSERT_EQ(wire_ids.size(), 256u);
    EXPECT_EQ(wire_ids.front(), 1);
    EXPECT_EQ(wire_ids[254], 255);
    EXPECT_EQ(wire_ids[255], 0);
    EXPECT_EQ(session.g_tx_id, 257);
}

}  // namespace
}  // namespace tornelvox
