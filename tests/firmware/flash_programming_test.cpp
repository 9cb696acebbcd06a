// Boot loader entry, the name page read and flash programming, step by step against the
// emulated adapter.
#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "tests/firmware/adapter_fixture.h"

namespace tornelvox::testing {
namespace {

using emu::FaultKind;
using emu::FaultRule;

// " Exp:" and " Got:" lines of the check value dump.
std::string DumpLines(const std::string &headline, const std::vector<int> &got) {
    char text[16];
    std::string lines = headline + " Exp:";
    for (int i = 0; i < 4; ++i) {
        std::snprintf(text, sizeof text, "%02X ", FW_CRC[i]);
        lines += text;
    }
    lines += "\n Got:";
    for (const int byte : got) {
        if (byte < 0) {
            lines += "-- ";
        } else {
            std::snprintf(text, sizeof text, "%02X ", byte);
            lines += text;
        }
    }
    return lines + "\n";
}

// The check value the emulator reports when told to corrupt it.
std::vector<int> CorruptedCheckValue() {
    std::vector<int> got;
    for (int i = 0; i < 4; ++i) got.push_back(FW_CRC[i] ^ 0x5A);
    return got;
}

struct FailureCase {
    const char *name;
    std::vector<FaultRule> faults;
    int fail_code;
    std::string log_tail;  // how the log ends; empty: nothing is logged at all
    bool boot_loader_never_answers = false;
    // Shorter read calls for the cases that wait out a verify reply: a verify allows a hundred
    // calls of silence per chunk.
    int read_call_ms = 20;
};

void PrintTo(const FailureCase &c, std::ostream *os) {
    *os << c.name;
}

std::vector<FailureCase> FailureCases() {
    const std::string write_dots = " Write flash " + Repeat('.', 63);
    const std::string verified = " Verify flash ... Done\n";
    return {
        {"ProbeSilentAroundReboot", {{.code = kCmdProbe, .times = emu::kAlways}}, kFailProbe, ""},
        {"HandshakeNeverAnswered", {}, kFailHandshake, "", true},
        {"FirstWriteEnable",
         {{.code = kCmdWriteEnableFirst, .times = 2}},
         kFailWriteEnableFirst,
         " Check Device ...\n\t Device BT address : 3A7\n Fail on EN_FLASH_WR_1\n"},
        {"SecondWriteEnableStep",
         {{.code = kCmdWriteEnableSecond, .kind = FaultKind::kOneByteReply}},
         kFailWriteEnableSecond,
         "3A7\n Fail on EN_FLASH_WR_2\n"},
        {"WriteEnableRepeated",
         {{.code = kCmdWriteEnableFirst, .kind = FaultKind::kOneByteReply, .skip = 1}},
         kFailWriteEnableRepeated,
         "3A7\n Fail on EN_FLASH_WR_1\n"},
        {"EraseStep",
         {{.code = kCmdEraseStep, .kind = FaultKind::kOneByteReply, .skip = 4}},
         kFailEraseStep,
         "\n Erase flash .....\n Fail on flash 4\n"},
        {"ImagePage",
         {{.code = kCmdWriteImagePage,
           .kind = FaultKind::kPageWriteFails,
           .page = 26,
           .times = emu::kAlways}},
         kFailImagePage,
         " Write flash ......\n Fail to write flash add 1a\n"},
        {"NamePage",
         {{.code = kCmdWriteNamePage, .kind = FaultKind::kPageWriteFails, .times = emu::kAlways}},
         kFailNamePage,
         write_dots + " Fail to write BT info\n"},
        {"PageZero",
         {{.code = kCmdWriteImagePage,
           .kind = FaultKind::kPageWriteFails,
           .page = 0,
           .times = emu::kAlways}},
         kFailPageZero,
         write_dots + "\n Fail to write flash add 0\n"},
        {"VerifyExchange",
         {{.code = kCmdReadCheckValue, .kind = FaultKind::kOneByteReply}},
         kFailCheckValueRead,
         write_dots + " Done\n Verify flash ... Fail to verify flash\n",
         false,
         10},
        {"SecondVerifyExchange",
         {{.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue},
          {.code = kCmdReadCheckValue, .kind = FaultKind::kOneByteReply, .skip = 1}},
         kFailCheckValueRead,
         verified + DumpLines(" !!!!! CRC error !!!!! \n", CorruptedCheckValue()) +
             " Fail to verify flash\n",
         false,
         10},
        {"CheckValueTwice",
         {{.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue, .times = 2}},
         kFailCheckValueMismatch,
         verified + DumpLines(" !!!!! CRC error !!!!! \n", CorruptedCheckValue()) +
             DumpLines(" !!!!! CRC second check error !!!!! \n", CorruptedCheckValue())},
        // A verify reply that stops before the check value never passes, whatever an earlier
        // reply left in the capture window.
        {"CheckValueNotDelivered",
         {{.code = kCmdReadCheckValue,
           .kind = FaultKind::kShortReply,
           .times = emu::kAlways,
           .bytes = 9}},
         kFailCheckValueMismatch,
         verified + DumpLines(" !!!!! CRC error !!!!! \n", {FW_CRC[0], FW_CRC[1], -1, -1}) +
             DumpLines(" !!!!! CRC second check error !!!!! \n", {FW_CRC[0], FW_CRC[1], -1, -1}),
         false,
         10},
    };
}

class ProgrammingFailure : public AdapterTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(ProgrammingFailure, SetsItsFailCodeAndLogsItsLine) {
    const FailureCase &c = GetParam();
    auto &adapter = StartAdapter({.boot_loader_never_answers = c.boot_loader_never_answers});
    for (const FaultRule &rule : c.faults) adapter.AddFault(rule);
    session.ReadCallTimeoutMs.store(c.read_call_ms);
    session.ThreadRunning.store(true);

    const bool programmed = Set2Boot(session) && GetID(session, 1) && ProgramDevice(session);

    EXPECT_FALSE(programmed);
    EXPECT_EQ(session.FailCode, c.fail_code);
    const std::string log = Log();
    if (c.log_tail.empty()) {
        EXPECT_EQ(log, "");
    } else {
        ASSERT_GE(log.size(), c.log_tail.size()) << log;
        EXPECT_EQ(log.substr(log.size() - c.log_tail.size()), c.log_tail) << log;
    }
}

INSTANTIATE_TEST_SUITE_P(Steps, ProgrammingFailure, ::testing::ValuesIn(FailureCases()),
                         [](const auto &info) { return std::string(info.param.name); });

// A first check value that differs and a second that matches: programmed, FailCode stays
// kFailCheckValueMismatch.
TEST_F(AdapterTest, CheckValueMismatchThenMatchSucceedsWithFailCodeKept) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdReadCheckValue, .kind = FaultKind::kWrongCheckValue});
    session.ThreadRunning.store(true);

    ASSERT_TRUE(Set2Boot(session) && GetID(session, 1));
    EXPECT_EQ(ProgramDevice(session), 1);
    EXPECT_EQ(session.FailCode, kFailCheckValueMismatch);
    const std::string log = Log();
    const std::string tail =
        " Verify flash ... Done\n" + DumpLines(" !!!!! CRC error !!!!! \n", CorruptedCheckValue());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail) << log;
    EXPECT_EQ(adapter.CountOf(kCmdReadCheckValue), 2);
}

struct NamePageCase {
    int version;
    std::uint32_t read_address;
};

void PrintTo(const NamePageCase &c, std::ostream *os) {
    *os << std::hex << "0x" << c.version;
}

class NamePageLocation : public AdapterTest, public ::testing::WithParamInterface<NamePageCase> {};

TEST_P(NamePageLocation, FollowsTheFirmwareVersion) {
    auto &adapter = StartAdapter({.version = static_cast<std::uint32_t>(GetParam().version)});
    session.CurVerNum = GetParam().version;
    ASSERT_EQ(Set2Boot(session), 1);

    ASSERT_EQ(GetID(session, 1), 1) << Log();
    EXPECT_EQ(session.dwReadAdd, GetParam().read_address);
    const emu::AdapterConfig defaults;
    EXPECT_TRUE(std::equal(defaults.bt_address.begin(), defaults.bt_address.end(), session.BT_ADD));
    EXPECT_EQ(Log(), " Check Device ...\n\t Device BT address : 3A7\n");

    // The read frame carries the address little-endian after its sub-command.
    for (const emu::FrameRecord &record : adapter.Frames()) {
        if (record.kind != emu::RecordKind::kFrame || record.code != kCmdReadPage) continue;
        ASSERT_GE(record.bytes.size(), 12u);
        const std::uint32_t sent = record.bytes[8] | record.bytes[9] << 8 | record.bytes[10] << 16 |
                                   record.bytes[11] << 24;
        EXPECT_EQ(sent, GetParam().read_address);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, NamePageLocation,
                         ::testing::Values(NamePageCase{0x2FF, 0x7D000},
                                           NamePageCase{0x300, 0xFD000}));

TEST_F(AdapterTest, AddressLineShowsTheNamePageDigits) {
    StartAdapter({.bt_address = {0xAB, 0xCD, 0x11, 0x22, 0x33, 0x44}});
    ASSERT_EQ(Set2Boot(session), 1);
    ASSERT_EQ(GetID(session, 1), 1);
    EXPECT_EQ(Log(), " Check Device ...\n\t Device BT address : DAB\n");
    const unsigned char expected[6] = {0xAB, 0xCD, 0x11, 0x22, 0x33, 0x44};
    EXPECT_EQ(std::memcmp(session.BT_ADD, expected, 6), 0);
}

TEST_F(AdapterTest, OnlyCopyFlagOneTakesTheAddress) {
    StartAdapter({.bt_address = {0xAB, 0xCD, 0x11, 0x22, 0x33, 0x44}});
    ASSERT_EQ(Set2Boot(session), 1);
    ASSERT_EQ(GetID(session, 0), 1);
    EXPECT_EQ(std::memcmp(session.BT_ADD, kDefaultAddress.data(), 6), 0);
    // The line shows the address held, which the new name page would carry.
    EXPECT_EQ(Log(), " Check Device ...\n\t Device BT address : 100\n");
}

TEST_F(AdapterTest, ErasedNameMeansNoStoredAddress) {
    auto &adapter = StartAdapter();
    ASSERT_TRUE(adapter.WriteFlash(0xFD006, {0xFF, 0xFF}));
    ASSERT_EQ(Set2Boot(session), 1);
    EXPECT_EQ(GetID(session, 1), 0);
    EXPECT_EQ(Log(), " Check Device ...\n\t Device has NO stored BT address. \n");
    EXPECT_EQ(std::memcmp(session.BT_ADD, kDefaultAddress.data(), 6), 0);
}

TEST_F(AdapterTest, FailedPageReadLogsNothingMore) {
    auto &adapter = StartAdapter();
    adapter.AddFault({.code = kCmdReadPage, .kind = FaultKind::kShortReply, .bytes = 20});
    ASSERT_EQ(Set2Boot(session), 1);
    EXPECT_EQ(GetID(session, 1), 0);
    EXPECT_EQ(Log(), " Check Device ...\n");
    EXPECT_EQ(std::memcmp(session.BT_ADD, kDefaultAddress.data(), 6), 0);
}

TEST_F(AdapterTest, HandshakeRecoveredByBursts) {
    auto &adapter = StartAdapter({.handshake_only_after_recovery = true});
    EXPECT_EQ(Set2Boot(session), 1);
    EXPECT_TRUE(adapter.InBootLoader());
    const std::vector<int> codes = Received();
    // 1, 2 unanswered twice, the bursts (3 x 200, 5, 4 x 100), 2 answered, 6.
    ASSERT_GE(codes.size(), 4u);
    EXPECT_EQ(codes.front(), kCmdProbe);
    EXPECT_EQ(adapter.CountOf(kCmdWakeUp), 1);
    EXPECT_EQ(adapter.CountOf(kCmdEnterBootLoader), 1);
    EXPECT_EQ(codes.back(), kCmdEnterBootLoader);
}

struct ParameterCase {
    const char *name;
    int record_offset;  // page byte where the record is planted; -1: none
    bool found;
};

void PrintTo(const ParameterCase &c, std::ostream *os) {
    *os << c.name;
}

class ParameterRecord : public AdapterTest, public ::testing::WithParamInterface<ParameterCase> {};

TEST_P(ParameterRecord, IsFoundAtEitherStart) {
    auto &adapter = StartAdapter();
    const std::vector<std::uint8_t> record = {1, 2, 3, 4, 5, 6, 7, 8, 'X', 'S'};
    if (GetParam().record_offset >= 0) {
        ASSERT_TRUE(adapter.WriteFlash(0x7E000 + GetParam().record_offset, record));
    }
    ASSERT_EQ(Set2Boot(session), 1);
    std::memset(session.Params, 0, sizeof session.Params);

    EXPECT_EQ(tornelvox::GetParam(session), 1);
    EXPECT_EQ(session.dwReadAdd, 0x7E000u);
    EXPECT_EQ(session.bParam, GetParam().found ? 1 : 0);
    const std::vector<std::uint8_t> held(session.Params, session.Params + sizeof session.Params);
    EXPECT_EQ(held, GetParam().found ? record : std::vector<std::uint8_t>(10, 0xFF));
}

INSTANTIATE_TEST_SUITE_P(Pages, ParameterRecord,
                         ::testing::Values(ParameterCase{"AtItsPlace", 500, true},
                                           ParameterCase{"OneByteLater", 501, true},
                                           ParameterCase{"Absent", -1, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(AdapterTest, ParameterPageReadCutShortFails) {
    auto &adapter = StartAdapter();
    // The parameter page read goes out in the same bytes as any page read, which the adapter
    // knows as kCmdReadPage.
    adapter.AddFault({.code = kCmdReadPage, .kind = FaultKind::kShortReply, .bytes = 600});
    ASSERT_EQ(Set2Boot(session), 1);
    session.bParam = 1;
    EXPECT_EQ(tornelvox::GetParam(session), 0);
    EXPECT_EQ(session.bParam, 0);
    EXPECT_EQ(std::vector<std::uint8_t>(session.Params, session.Params + 10),
              std::vector<std::uint8_t>(10, 0xFF));
}

}  // namespace
}  // namespace tornelvox::testing
