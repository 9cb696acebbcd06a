// The built-in image's identity and the firmware version query.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "firmware/firmware_update.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_peer.h"
#include "tests/support/test_constants.h"
#include "tools/jamcrc.h"

namespace tornelvox {
namespace {

using testing::Bytes;
using testing::ScriptedPeer;

TEST(ImageIdentity, CheckValueIsTheJamCrcOfTheCheckedRange) {
    const unsigned char known[] = "123456789";
    EXPECT_EQ(tools::JamCrc(known, 9), 0x340BC6D9u);  // the CRC-32 check value, not inverted
    const auto expected = tools::JamCrcBytes(tools::JamCrc(rawData, 0x7D000));
    EXPECT_EQ(std::memcmp(FW_CRC, expected.data(), 4), 0);
    EXPECT_EQ(sizeof rawData, 1036288u);
    EXPECT_EQ(VerNum, testing::kCurrentVersion);
    EXPECT_STREQ(Ver_Num, "6.03");
    // A fresh session's name page carries the built-in address.
    const FrameInputs fresh;
    EXPECT_EQ(std::memcmp(fresh.BT_ADD, testing::kDefaultAddress.data(), 6), 0);
}

TEST(VersionNumbers, ThreeDigitsMakeTwelveBits) {
    const std::pair<const char *, int> cases[] = {{"603", 0x603}, {"a1F", 0xA1F}, {"6.0", 0x600},
                                                  {"FFF", 0xFFF}, {"xyz", 0},     {"000", 0}};
    for (auto [digits, number] : cases) EXPECT_EQ(GetVerNum(digits), number) << digits;
    EXPECT_EQ(char2int('g'), 0);
    EXPECT_EQ(char2int('f'), 15);
    EXPECT_EQ(char2int('9'), 9);
}

// A 33-byte version reply with text placed at offset.
Bytes Reply(const std::string &text, std::size_t offset = 0, std::size_t size = 33) {
    Bytes reply(size, ' ');
    for (std::size_t i = 0; i < text.size() && offset + i < size; ++i) reply[offset + i] = text[i];
    return reply;
}

struct VersionCase {
    const char *name;
    Bytes reply;
    unsigned char result;
    int version;  // CurVerNum afterwards (starts at 0x111)
};

class VersionQuery : public ::testing::TestWithParam<VersionCase> {
  protected:
    void SetUp() override { session.ReadCallTimeoutMs = testing::kShortReadCallMs; }
    FirmwareSession session;
};

TEST_P(VersionQuery, ReadsTheDigitsAfterTheMarker) {
    const VersionCase &c = GetParam();
    ScriptedPeer adapter;
    adapter.Then(Bytes{0x2F, 0x76}, {c.reply});
    adapter.Start();
    testing::RecordingWindow window(session);
    ASSERT_TRUE(OpenPort(session, adapter.Path().c_str()));
    ASSERT_TRUE(SetParameters(session, 115200));
    session.CurVerNum = 0x111;
    EXPECT_EQ(CheckFMVersion(session), c.result);
    EXPECT_EQ(session.CurVerNum, c.version);
    if (c.result) {
        char shown[16];
        std::snprintf(shown, sizeof shown, "%03X", c.version);
        EXPECT_EQ(window.Log(), std::string(" Device Firmware Version = ") + shown +
                                    "\n Available Firmware for update = 603\n");
    } else {
        EXPECT_EQ(window.Log(), "");
        EXPECT_EQ(std::string(session.Ver, 3), "000");
    }
    EXPECT_EQ(adapter.Finish(), "");
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Replies, VersionQuery, ::testing::Values(
    VersionCase{"AtStart",        Reply("KQ Version = 603"),                      1, 0x603},
    VersionCase{"LowerCase",      Reply("KQ Version = a1F"),                      1, 0xA1F},
    VersionCase{"PointIsZero",    Reply("KQ Version = 6.0"),                      1, 0x600},
    VersionCase{"AfterNoise",     Reply("KQ Version : 1FF", 17),                  1, 0x1FF},
    VersionCase{"EarlierWins",    Reply("KQ Version = 302KQ Version = 205"),      1, 0x302},
    VersionCase{"NoMarker",       Reply("kq version = 603"),                      0, 0x111},
    VersionCase{"DigitsCut",      Reply("KQ Version = 60", 18),                   0, 0x111},
    VersionCase{"ShortNoMarker",  Reply("KQ Ver", 0, 6),                          0, 0x111}),
    [](const auto &info) { return std::string(info.param.name); });
// clang-format on

TEST_F(VersionQuery, StaleBytesOfAnEarlierReplyAreNotAVersion) {
    // The first reply leaves a valid version text in the capture window; the second delivers
    // only five bytes. Those five bytes hold no marker, so the query must fail.
    ScriptedPeer adapter;
    adapter.Then(Bytes{0x2F, 0x76}, {Reply("KQ Version = 603")});
    adapter.Then(Bytes{0x2F, 0x76}, {Bytes{'K', 'Q', ' ', 'V', 'e'}});
    adapter.Start();
    testing::RecordingWindow window(session);
    ASSERT_TRUE(OpenPort(session, adapter.Path().c_str()));
    ASSERT_TRUE(SetParameters(session, 115200));
    ASSERT_EQ(CheckFMVersion(session), 1);
    session.CurVerNum = 0x111;
    EXPECT_EQ(CheckFMVersion(session), 0);
    EXPECT_EQ(session.CurVerNum, 0x111);
    EXPECT_EQ(adapter.Finish(), "");
}

TEST_F(VersionQuery, SilentAdapterLeavesTheVersionAlone) {
    ScriptedPeer adapter;
    adapter.Then(Bytes{0x2F, 0x76});
    adapter.Then(Bytes{0x2F, 0x76});
    adapter.Start();
    ASSERT_TRUE(OpenPort(session, adapter.Path().c_str()));
    ASSERT_TRUE(SetParameters(session, 115200));
    std::memcpy(session.Ver, "603", 3);
    session.CurVerNum = 0x205;
    EXPECT_EQ(CheckFMVersion(session), 0);
    EXPECT_EQ(session.CurVerNum, 0x205);
    EXPECT_EQ(std::string(session.Ver, 3), "000");
    EXPECT_EQ(adapter.Finish(), "");
}

}  // namespace
}  // namespace tornelvox
