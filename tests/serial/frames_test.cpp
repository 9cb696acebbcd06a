// Every command frame of the catalogue, byte for byte, and the rules its exchange follows.
#include <gtest/gtest.h>

#include <cstring>
#include <span>

#include "firmware/firmware_update.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

using testing::Bytes;
using testing::FromHex;
using testing::Hex;

// Codes on either side of the catalogue, which have no row.
constexpr int kBelowCatalogue = kFirstCommand - 1;
constexpr int kAboveCatalogue = kLastCommand + 1;

struct FrameCase {
    int code;
    int flash_cnt;       // erase step (kCmdEraseStep)
    int fw_write_cnt;    // image page (kCmdWriteImagePage)
    int tx_id;           // settings transaction id (kCmdReadSetting, kCmdWriteSetting)
    const char *head;    // expected leading bytes
    std::size_t length;  // whole frame
    int reply;           // reply length WriteComm reports
};

// How the exchange must run each command.
struct ExchangeRules {
    int code;
    int read_calls;          // read calls per chunk
    int capture_chunk;       // the chunk the capture window keeps
    int burst_frames;        // frames written without a reply (0: request and reply)
    ShortReply short_reply;  // what a reply shorter than its length counts as
    bool chip_shape;         // a reply counts only shaped as the chip's (04 0E)
};

// clang-format off
constexpr ExchangeRules kRules[] = {
    // command                       calls capture burst short reply                       chip
    {kCmdProbe,                      10,   0,      0,    ShortReply::kAtLeastTwoBytes,     true},
    {kCmdHandshake,                  10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdHandshakeBurstBeforeWake,   10,   0,      200,  ShortReply::kAtLeastTwoBytes,     false},
    {kCmdHandshakeBurstAfterWake,    10,   0,      100,  ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWakeUp,                     10,   0,      1,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdEnterBootLoader,            10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdEnterBootLoaderFast,        10,   0,      0,    ShortReply::kAcceptUnlessRefused, false},
    {kCmdReadFlashId,                10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdResetFirst,                 10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdResetSecond,                10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWriteEnableFirst,           10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWriteEnableSecond,          10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdEraseStep,                  30,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWriteImagePage,             10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWriteNamePage,              10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWriteParameterPage,         10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdReadCheckValue,             100,  0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdReadPage,                   10,   0,      0,    ShortReply::kFails,               false},
    {kCmdReadParameterPage,          10,   2,      0,    ShortReply::kFails,               false},
    {kCmdNoFrame,                    10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdQuit,                       10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdQueryVersion,               10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdReadSetting,                10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kCmdWriteSetting,               10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kBelowCatalogue,                10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
    {kAboveCatalogue,                10,   0,      0,    ShortReply::kAtLeastTwoBytes,     false},
};
// clang-format on

// The bytes of image page number (held to the image's pages, as the frame's address is).
std::span<const unsigned char> ImagePage(int number) {
    const int page = number < 0 ? 0 : number >= kImagePages ? kImagePages - 1 : number;
    return {rawData + static_cast<std::size_t>(page) * kPageSize, kPageSize};
}

const ExchangeRules *RulesOf(int code) {
    for (const ExchangeRules &rules : kRules) {
        if (rules.code == code) return &rules;
    }
    return nullptr;
}

class FrameCatalogue : public ::testing::TestWithParam<FrameCase> {};

TEST_P(FrameCatalogue, BuildsTheExactBytesUnderItsExchangeRules) {
    const FrameCase &c = GetParam();
    FrameInputs in;
    in.flash_cnt = c.flash_cnt;
    in.fw_write_cnt = c.fw_write_cnt;
    in.g_tx_id = c.tx_id;
    in.bOptions = 0x05;
    in.bOptionsValue = 0x04;
    in.dwReadAdd = 0xFD000;
    const unsigned char address[6] = {0xA7, 0x03, 0x11, 0x22, 0x33, 0x44};
    std::memcpy(in.BT_ADD, address, 6);
    // The image page's bytes, as the firmware layer gives them.
    in.page = ImagePage(c.fw_write_cnt);

    unsigned char frame[kMaxFrameSize];
    const std::size_t length = BuildFrame(c.code, in, frame);
    ASSERT_EQ(length, c.length) << "code " << c.code;
    const Bytes head = FromHex(c.head);
    EXPECT_EQ(Hex(Bytes(frame, frame + head.size())), Hex(head)) << "code " << c.code;
    EXPECT_EQ(ReplyLength(c.code), c.reply) << "code " << c.code;

    const ExchangeRules *rules = RulesOf(c.code);
    ASSERT_NE(rules, nullptr) << "code " << c.code << " has no rules in the test";
    EXPECT_EQ(ReadCallsPerChunk(c.code), rules->read_calls) << "code " << c.code;
    EXPECT_EQ(CaptureChunk(c.code), rules->capture_chunk) << "code " << c.code;
    EXPECT_EQ(BurstFrames(c.code), rules->burst_frames) << "code " << c.code;
    EXPECT_EQ(ShortReplyRule(c.code), rules->short_reply) << "code " << c.code;
    EXPECT_EQ(ReplyMustBeCommandComplete(c.code), rules->chip_shape) << "code " << c.code;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(AllCodes, FrameCatalogue, ::testing::Values(
    //        command                       cnt  page  id   head                                                  len  reply
    FrameCase{kCmdProbe,                    0,   0,    1,   "01 E0 FC 01 00",                                     5,    8},
    FrameCase{kCmdHandshake,                0,   0,    1,   "01 E0 FC 02 AA 55",                                  6,    8},
    FrameCase{kCmdHandshakeBurstBeforeWake, 0,   0,    1,   "01 E0 FC 02 AA 55",                                  6,    0},
    FrameCase{kCmdHandshakeBurstAfterWake,  0,   0,    1,   "01 E0 FC 02 AA 55",                                  6,    0},
    FrameCase{kCmdWakeUp,                   0,   0,    1,   "01 E0 FC 05 FE 95 27 95 27",                         9,    0},
    FrameCase{kCmdEnterBootLoader,          0,   0,    1,   "01 E0 FC 06 0F 00 C2 01 00 0F",                      10,   12},
    FrameCase{kCmdEnterBootLoaderFast,      0,   0,    1,   "01 E0 FC 06 0F 40 42 0F 00 0F",                      10,   12},
    FrameCase{kCmdReadFlashId,              0,   0,    1,   "01 E0 FC FF F4 05 00 0E 9F 00 00 00 00",             13,   15},
    FrameCase{kCmdResetFirst,               0,   0,    1,   "01 E0 FC 09 01 00 80 F4 00 01 00 5A 00",             13,   15},
    FrameCase{kCmdResetSecond,              0,   0,    1,   "01 E0 FC 09 01 00 80 F4 00 01 00 A5 00",             13,    5},
    FrameCase{kCmdWriteEnableFirst,         0,   0,    1,   "01 E0 FC FF F4 02 00 0C 05",                         9,    13},
    FrameCase{kCmdWriteEnableSecond,        0,   0,    1,   "01 E0 FC FF F4 03 00 0D 01 00",                      10,   13},
    FrameCase{kCmdEraseStep,                0,   0,    1,   "01 E0 FC FF F4 06 00 0F D8 00 00 00 00",             13,   16},
    FrameCase{kCmdEraseStep,                15,  0,    1,   "01 E0 FC FF F4 06 00 0F D8 00 00 0F 00",             13,   16},
    FrameCase{kCmdEraseStep,                16,  0,    1,   "01 E0 FC FF F4 06 00 0F 20 00 00 0F 00",             13,   16},
    FrameCase{kCmdEraseStep,                29,  0,    1,   "01 E0 FC FF F4 06 00 0F 20 00 D0 0F 00",             13,   16},
    FrameCase{kCmdWriteImagePage,           0,   0,    1,   "01 E0 FC FF F4 05 10 07 00 00 00 00",                4108, 15},
    FrameCase{kCmdWriteImagePage,           0,   252,  1,   "01 E0 FC FF F4 05 10 07 00 C0 0F 00",                4108, 15},
    FrameCase{kCmdWriteNamePage,            0,   0,    1,   "01 E0 FC FF F4 05 10 07 00 D0 0F 00 A7 03 11 22 33 44 "
                                                            "54 6F 72 6E 65 6C 76 6F 78 28 33 41 37 29",          4108, 15},
    FrameCase{kCmdWriteParameterPage,       0,   0,    1,   "01 E0 FC FF F4 05 10 07 00 E0 07 00 FF FF",          4108, 15},
    FrameCase{kCmdReadCheckValue,           0,   0,    1,   "01 E0 FC 09 10 00 00 00 00 FF CF 07 00",             13,   11},
    FrameCase{kCmdReadPage,                 0,   0,    1,   "01 E0 FC FF F4 05 00 09 00 D0 0F 00",                12, 4110},
    FrameCase{kCmdReadParameterPage,        0,   0,    1,   "01 E0 FC FF F4 05 00 09 00 D0 0F 00",                12, 4110},
    FrameCase{kCmdNoFrame,                  0,   0,    1,   "",                                                   0,    0},
    FrameCase{kCmdQuit,                     0,   0,    1,   "2F 71",                                              2,    0},
    FrameCase{kCmdQueryVersion,             0,   0,    1,   "2F 76",                                              2,   33},
    FrameCase{kCmdReadSetting,              0,   0,    7,   "58 53 03 07 03 05 00",                               7,   10},
    FrameCase{kCmdReadSetting,              0,   0,    256, "58 53 03 00 03 05 00",                               7,   10},
    FrameCase{kCmdWriteSetting,             0,   0,    9,   "58 53 07 09 83 05 04 00 00 00",                      10,  10},
    FrameCase{kBelowCatalogue,              0,   0,    1,   "",                                                   0,    0},
    FrameCase{kAboveCatalogue,              0,   0,    1,   "",                                                   0,    0}));
// clang-format on

TEST(FramePages, ImagePagesCarryTheirImageBytes) {
    unsigned char frame[kMaxFrameSize];
    FrameInputs in;
    for (int page : {0, 1, 124, 252}) {
        in.fw_write_cnt = page;
        in.page = ImagePage(page);
        ASSERT_EQ(BuildFrame(kCmdWriteImagePage, in, frame), kMaxFrameSize);
        EXPECT_EQ(std::memcmp(frame + 12, rawData + page * kPageSize, kPageSize), 0) << page;
    }
}

// The serial layer knows no image: an image page whose bytes are missing or not a whole page has
// no frame, and the exchange fails it as a frame not written instead of sending anything.
TEST(FramePages, ImagePageWithoutAWholePageHasNoFrame) {
    unsigned char frame[kMaxFrameSize];
    FrameInputs in;
    for (std::size_t size : {std::size_t{0}, kPageSize - 1, kPageSize + 1}) {
        in.page = std::span<const unsigned char>(rawData, size);
        EXPECT_EQ(BuildFrame(kCmdWriteImagePage, in, frame), 0u) << size;
    }
    LinkSession session;
    session.FailCode = kFailNone;
    EXPECT_EQ(WriteComm(session, kCmdWriteImagePage), kWriteFailed);
    EXPECT_EQ(session.FailCode, kFailFrameNotWritten);
    EXPECT_EQ(session.WriteComm_op, kCmdWriteImagePage);
}

TEST(FramePages, NamePageTailAndParameterPage) {
    unsigned char frame[kMaxFrameSize];
    FrameInputs in;
    ASSERT_EQ(BuildFrame(kCmdWriteNamePage, in, frame), kMaxFrameSize);
    const unsigned char *page = frame + 12;
    for (int i = 20; i <= 37; ++i) EXPECT_EQ(page[i], 0x00) << i;
    for (std::size_t i = 38; i < kPageSize; ++i) ASSERT_EQ(page[i], 0xFF) << i;

    const unsigned char record[10] = {1, 2, 3, 4, 5, 6, 7, 8, 'X', 'S'};
    std::memcpy(in.Params, record, sizeof record);
    ASSERT_EQ(BuildFrame(kCmdWriteParameterPage, in, frame), kMaxFrameSize);
    for (std::size_t i = 0; i < kPageSize; ++i) {
        const unsigned char want = (i >= 500 && i < 510) ? record[i - 500] : 0xFF;
        ASSERT_EQ(frame[12 + i], want) << i;
    }
}

TEST(FrameDigits, Int2CharGivesUpperCaseHexOrZero) {
    const std::pair<unsigned, char> cases[] = {{0, '0'},  {9, '9'},  {10, 'A'},
                                               {15, 'F'}, {16, '0'}, {0xFFFFFFFF, '0'}};
    for (auto [value, digit] : cases) EXPECT_EQ(Int2Char(value), digit) << value;
}

}  // namespace
}  // namespace tornelvox
