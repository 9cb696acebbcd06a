// Settings through "XS" frames: round trips in the adapter's own numbers, and the options each
// firmware version knows.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tests/emulator/emulator_fixture.h"

namespace tornelvox::emulator::testing {
namespace {

std::uint32_t Number(const Bytes &reply) {
    return static_cast<std::uint32_t>(reply[6]) | static_cast<std::uint32_t>(reply[7]) << 8 |
           static_cast<std::uint32_t>(reply[8]) << 16 | static_cast<std::uint32_t>(reply[9]) << 24;
}

struct RoundTrip {
    int option;
    std::uint8_t written;
    std::uint32_t stored;
};

class SettingsRoundTrip : public EmulatorTest, public ::testing::WithParamInterface<RoundTrip> {};

TEST_P(SettingsRoundTrip, WrittenChoiceReadsBackInAdapterTerms) {
    const RoundTrip &c = GetParam();
    Begin({.version = kCurrentVersion});
    const auto option = static_cast<std::uint8_t>(c.option);
    const Bytes write = port->Exchange(SettingsWrite(0x41, option, c.written), 10);
    ASSERT_EQ(write.size(), 10u);
    EXPECT_EQ(write[4], 0xEE);

    const Bytes read = port->Exchange(SettingsRead(0x42, option), 10);
    ASSERT_EQ(read.size(), 10u);
    EXPECT_EQ((Bytes{read[0], read[1], read[2], read[3], read[4], read[5]}),
              (Bytes{0x58, 0x53, 0x07, 0x42, 0xEE, option}));
    EXPECT_EQ(Number(read), c.stored);
    EXPECT_EQ(adapter->Setting(c.option), c.stored);
}

INSTANTIATE_TEST_SUITE_P(
    Options, SettingsRoundTrip,
    ::testing::Values(RoundTrip{4, 0, 3}, RoundTrip{4, 1, 5}, RoundTrip{4, 2, 7},
                      RoundTrip{4, 3, 10}, RoundTrip{5, 2, 225}, RoundTrip{5, 1, 190},
                      RoundTrip{5, 0, 150}, RoundTrip{5, 3, 95}, RoundTrip{5, 4, 80},
                      RoundTrip{1, 0, 0}, RoundTrip{2, 1, 1}, RoundTrip{3, 0, 0},
                      RoundTrip{6, 1, 1}, RoundTrip{7, 1, 1}, RoundTrip{8, 2, 2},
                      RoundTrip{9, 1, 1}, RoundTrip{10, 0, 0}, RoundTrip{13, 4, 4},
                      RoundTrip{14, 0, 0}, RoundTrip{15, 1, 1}, RoundTrip{16, 1, 1},
                      RoundTrip{17, 2, 2}, RoundTrip{18, 3, 3}),
    [](const auto &info) {
        return "Option" + std::to_string(info.param.option) + "Byte" +
               std::to_string(info.param.written);
    });

TEST_F(EmulatorTest, ByteThatStandsForNoChoiceIsRefusedAndNotStored) {
    Begin({.version = kCurrentVersion});
    for (const auto &[option, byte] : std::vector<std::pair<std::uint8_t, std::uint8_t>>{
             {4, 4}, {5, 5}, {8, 3}, {13, 5}, {1, 2}}) {
        const auto before = adapter->Setting(option);
        const Bytes reply = port->Exchange(SettingsWrite(1, option, byte), 10);
        ASSERT_EQ(reply.size(), 10u);
        EXPECT_NE(reply[4], 0xEE) << int(option);
        EXPECT_EQ(adapter->Setting(option), before) << int(option);
    }
}

struct Gate {
    std::uint32_t version;
    int option;
    bool known;
};

class SettingsGate : public EmulatorTest, public ::testing::WithParamInterface<Gate> {};

TEST_P(SettingsGate, OptionKnownOnlyFromItsFirmwareVersion) {
    Begin({.version = GetParam().version});
    const Bytes reply =
        port->Exchange(SettingsRead(7, static_cast<std::uint8_t>(GetParam().option)), 10);
    ASSERT_EQ(reply.size(), 10u) << "an unknown option is still answered";
    EXPECT_EQ(reply[4] == 0xEE, GetParam().known);
    EXPECT_EQ(adapter->Setting(GetParam().option).has_value(), GetParam().known);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, SettingsGate,
    ::testing::Values(Gate{0x1FF, 1, false}, Gate{0x200, 1, true}, Gate{0x200, 10, true},
                      Gate{0x205, 13, false}, Gate{0x206, 13, true}, Gate{0x206, 14, true},
                      Gate{0x2FF, 15, false}, Gate{0x300, 15, true}, Gate{0x301, 16, false},
                      Gate{0x302, 16, true}, Gate{0x302, 17, true}, Gate{0x302, 18, true},
                      Gate{0x603, 11, false}, Gate{0x603, 12, false}, Gate{0x603, 19, false}),
    [](const auto &info) {
        char name[32];
        std::snprintf(name, sizeof name, "Version%03XOption%d", info.param.version,
                      info.param.option);
        return std::string(name);
    });

TEST_F(EmulatorTest, PlantedNumberIsReportedAsIs) {
    Begin();
    ASSERT_TRUE(adapter->SetSetting(4, 6));
    const Bytes reply = port->Exchange(SettingsRead(3, 4), 10);
    ASSERT_EQ(reply.size(), 10u);
    EXPECT_EQ(Number(reply), 6u);
}

}  // namespace
}  // namespace tornelvox::emulator::testing
