// Each fault kind once, and the rules that choose which frames get it.
#include <gtest/gtest.h>

#include <functional>

#include "emulator/reply_builder.h"
#include "tests/emulator/emulator_fixture.h"
#include "tools/jamcrc.h"

namespace tornelvox::emulator::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

struct FaultCase {
    const char *name;
    bool boot_loader;
    FaultRule rule;
    Bytes frame;
    std::size_t read;  // bytes to read at most
    std::function<void(const Bytes &reply, EmulatedAdapter &adapter)> check;
};

const Bytes kPage3 = PageWriteFrame(3 * 4096, Bytes(4096, 0x00));

std::vector<FaultCase> Cases() {
    return {
        {"Silence",
         false,
         {.code = kCodeProbe, .kind = FaultKind::kSilence},
         kProbe,
         8,
         [](const Bytes &r, EmulatedAdapter &) { EXPECT_TRUE(r.empty()); }},
        {"ShortReply",
         false,
         {.code = kCodeVersion, .kind = FaultKind::kShortReply, .bytes = 5},
         kVersionQuery,
         33,
         [](const Bytes &r, EmulatedAdapter &) {
             EXPECT_EQ(r, (Bytes{'\r', '\n', 'K', 'Q', ' '}));
         }},
        {"OneByteReply",
         false,
         {.code = kCodeProbe, .kind = FaultKind::kOneByteReply},
         kProbe,
         8,
         [](const Bytes &r, EmulatedAdapter &) { EXPECT_EQ(r, Bytes{0x04}); }},
        {"ExtraBytes",
         false,
         {.code = kCodeReadSetting, .kind = FaultKind::kExtraBytes, .bytes = 3},
         SettingsRead(1, 1),
         20,
         [](const Bytes &r, EmulatedAdapter &) {
             ASSERT_EQ(r.size(), 13u);
             EXPECT_EQ(r[0], 0x58);
             EXPECT_EQ(r[4], 0xEE);
         }},
        {"Garbage",
         false,
         {.code = kCodeReadSetting, .kind = FaultKind::kGarbage},
         SettingsRead(1, 1),
         20,
         [](const Bytes &r, EmulatedAdapter &) {
             ASSERT_EQ(r.size(), 10u);
             for (std::size_t i = 0; i + 1 < r.size(); ++i) {
                 EXPECT_FALSE(r[i] == 0x58 && r[i + 1] == 0x53) << "no settings marker";
             }
         }},
        {"LeadingNoise",
         false,
         {.code = kCodeReadSetting, .kind = FaultKind::kLeadingNoise, .bytes = 2},
         SettingsRead(1, 1),
         20,
         [](const Bytes &r, EmulatedAdapter &) {
             ASSERT_EQ(r.size(), 12u);
             EXPECT_EQ(r[2], 0x58);
             EXPECT_EQ(r[3], 0x53);
             EXPECT_NE(r[0], 0x58);
         }},
        {"WrongCheckValue",
         true,
         {.code = kCodeVerify, .kind = FaultKind::kWrongCheckValue},
         kVerify,
         11,
         [](const Bytes &r, EmulatedAdapter &a) {
             ASSERT_EQ(r.size(), 11u);
             const auto good = tools::JamCrcBytes(a.CheckValue());
             EXPECT_NE(Bytes(r.begin() + 7, r.end()), Bytes(good.begin(), good.end()));
         }},
        {"OutOfRangeNumber",
         false,
         {.code = kCodeReadSetting, .kind = FaultKind::kOutOfRangeNumber, .option = 4, .value = 6},
         SettingsRead(1, 4),
         10,
         [](const Bytes &r, EmulatedAdapter &a) {
             ASSERT_EQ(r.size(), 10u);
             EXPECT_EQ(r[4], 0xEE);
             EXPECT_EQ(r[6], 6);
             EXPECT_EQ(a.Setting(4), 5u) << "the stored number is unchanged";
         }},
        {"PageWriteFails",
         true,
         {.code = kCodeWriteImagePage, .kind = FaultKind::kPageWriteFails, .page = 3},
         kPage3,
         15,
         [](const Bytes &r, EmulatedAdapter &a) {
             EXPECT_TRUE(r.empty());
             EXPECT_NE(a.ReadFlash(3 * 4096, 4096), Bytes(4096, 0x00)) << "not programmed";
         }},
        {"PageLeftUnwritten",
         true,
         {.code = kCodeWriteImagePage, .kind = FaultKind::kUnwrittenPage, .page = 3},
         kPage3,
         15,
         [](const Bytes &r, EmulatedAdapter &a) {
             ASSERT_EQ(r.size(), 15u);
             EXPECT_EQ(r[6], kStatusOk) << "answered as written";
             EXPECT_NE(a.ReadFlash(3 * 4096, 4096), Bytes(4096, 0x00)) << "not programmed";
         }},
        {"Unplug",
         false,
         {.code = kCodeVersion, .kind = FaultKind::kUnplug},
         kVersionQuery,
         33,
         [](const Bytes &r, EmulatedAdapter &a) {
             EXPECT_TRUE(r.empty());
             EXPECT_FALSE(a.Plugged());
         }},
    };
}

class FaultKinds : public EmulatorTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultKinds, ShapeTheReply) {
    const FaultCase &c = GetParam();
    Begin();
    if (c.boot_loader) EnterBootLoader();
    adapter->AddFault(c.rule);
    const Bytes reply = port->Exchange(c.frame, c.read, milliseconds(150));
    ASSERT_TRUE(adapter->WaitForFrames(c.rule.code, 1, kHandled));
    c.check(reply, *adapter);
    EXPECT_NE(adapter->Transcript().find('{'), std::string::npos) << "the fault is noted";
}

INSTANTIATE_TEST_SUITE_P(Each, FaultKinds, ::testing::ValuesIn(Cases()),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(EmulatorTest, LateReplyComesAfterItsDelay) {
    Begin();
    adapter->AddFault({.code = kCodeProbe, .kind = FaultKind::kLateReply, .delay_ms = 150});
    const auto start = Clock::now();
    ASSERT_TRUE(port->Write(kProbe));
    EXPECT_TRUE(port->Read(1, milliseconds(80)).empty());
    EXPECT_EQ(port->Read(8, milliseconds(300)).size(), 8u);
    EXPECT_GE(Clock::now() - start, milliseconds(150));
}

TEST_F(EmulatorTest, SplitReplyComesInPiecesWithPauses) {
    Begin();
    adapter->AddFault(
        {.code = kCodeVersion, .kind = FaultKind::kSplitReply, .bytes = 10, .delay_ms = 80});
    ASSERT_TRUE(port->Write(kVersionQuery));
    EXPECT_EQ(port->Read(33, milliseconds(40)).size(), 10u);
    EXPECT_EQ(port->Read(23, milliseconds(200)).size(), 23u);
}

// The adapter's own time for an erase step and for the check value: the reply waits for it.
TEST_F(EmulatorTest, AdapterTimeDelaysEraseStepAndCheckValue) {
    struct Row {
        const char *name;
        Bytes frame;
        std::size_t reply;
        int adapter_ms;
    };
    Begin({.erase_delay_ms = 100, .verify_delay_ms = 150});
    EnterBootLoader();
    for (const Row &row :
         {Row{"erase step", EraseFrame(3), 16, 100}, Row{"check value", kVerify, 11, 150}}) {
        const auto start = Clock::now();
        EXPECT_EQ(port->Exchange(row.frame, row.reply, milliseconds(400)).size(), row.reply)
            << row.name;
        EXPECT_GE(Clock::now() - start, milliseconds(row.adapter_ms)) << row.name;
    }
}

// Which frames a rule hits: skip, times, and the option and page filters.
struct Selection {
    const char *name;
    FaultRule rule;
    std::vector<bool> silenced;  // for consecutive settings reads of option 4, 5, 4, 5, ...
};

class FaultSelection : public EmulatorTest, public ::testing::WithParamInterface<Selection> {};

TEST_P(FaultSelection, HitsTheChosenFrames) {
    Begin();
    adapter->AddFault(GetParam().rule);
    const std::vector<bool> &silenced = GetParam().silenced;
    for (std::size_t i = 0; i < silenced.size(); ++i) {
        const auto option = static_cast<std::uint8_t>(i % 2 == 0 ? 4 : 5);
        const Bytes reply = port->Exchange(SettingsRead(static_cast<std::uint8_t>(i), option), 10,
                                           milliseconds(100));
        EXPECT_EQ(reply.empty(), silenced[i]) << "frame " << i << "\n" << adapter->Transcript();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rules, FaultSelection,
    ::testing::Values(
        Selection{"ThirdFrame",
                  {.code = kCodeReadSetting, .kind = FaultKind::kSilence, .skip = 2},
                  {false, false, true, false, false}},
        Selection{
            "AlwaysAfterOne",
            {.code = kCodeReadSetting, .kind = FaultKind::kSilence, .skip = 1, .times = kAlways},
            {false, true, true, true}},
        Selection{"OnlyOption5",
                  {.code = kCodeReadSetting, .kind = FaultKind::kSilence, .option = 5, .times = 2},
                  {false, true, false, true, false, false}},
        Selection{
            "OtherCode", {.code = kCodeWriteSetting, .kind = FaultKind::kSilence}, {false, false}}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox::emulator::testing
