// The settings table: its orders, the value mappings both ways, the labels, and the dialog's
// two ways of filling the applied values.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "settings/device_settings.h"
#include "tests/settings/firmware_gate_cases.h"

namespace tornelvox {
namespace {

std::vector<int> Options(const SettingOrder &order) {
    std::vector<int> options;
    for (const SettingDescription *setting : order) {
        options.push_back(setting == nullptr ? -1 : setting->option);
    }
    return options;
}

TEST(SettingsTable, EveryOrderHoldsEachSettingOnce) {
    for (const SettingOrder &order : {SettingsInReadOrder(), SettingsInWriteOrder()}) {
        const std::vector<int> options = Options(order);
        EXPECT_EQ(std::set<int>(options.begin(), options.end()).size(), 16u);
        EXPECT_EQ(std::count(options.begin(), options.end(), -1), 0);
    }
}

TEST(SettingsTable, LevelsHaveAsManyLabelsItemsAndBytesAsNumbers) {
    for (const SettingDescription &setting : AllSettings()) {
        SCOPED_TRACE(setting.name);
        if (setting.kind == SettingKind::Flag) {
            EXPECT_TRUE(setting.reported.empty());
            EXPECT_EQ(setting.labels.size(), 2u);
            continue;
        }
        EXPECT_EQ(setting.labels.size(), setting.reported.size());
        EXPECT_EQ(setting.items.size(), setting.reported.size());
        EXPECT_TRUE(setting.written.empty() || setting.written.size() == setting.reported.size());
        EXPECT_LT(setting.fallback, static_cast<int>(setting.reported.size()));
        EXPECT_NE(setting.unknown_name, nullptr);
        EXPECT_NE(setting.unwritable_name, nullptr);
    }
    EXPECT_EQ(FindSetting(11), nullptr);
    EXPECT_EQ(FindSetting(12), nullptr);
}

struct ReadCase {
    std::uint8_t option;
    std::uint32_t number;
    int value;
    bool known;
};

void PrintTo(const ReadCase &c, std::ostream *out) {
    *out << "option " << int(c.option) << " number " << c.number;
}

class AdapterNumbers : public ::testing::TestWithParam<ReadCase> {};

TEST_P(AdapterNumbers, BecomeDeviceValues) {
    const ReadCase &c = GetParam();
    const SettingDescription *setting = FindSetting(c.option);
    ASSERT_NE(setting, nullptr);
    bool known = !c.known;
    EXPECT_EQ(DeviceValueFor(*setting, c.number, known), c.value);
    EXPECT_EQ(known, c.known);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Mappings, AdapterNumbers, ::testing::Values(
    ReadCase{1, 0, 0, true},            ReadCase{1, 7, 1, true},
    ReadCase{10, 0xFFFFFFFF, 1, true},  ReadCase{2, 1, 1, true},
    ReadCase{4, 3, 0, true},   ReadCase{4, 5, 1, true},   ReadCase{4, 7, 2, true},
    ReadCase{4, 10, 3, true},  ReadCase{4, 6, 2, false},  ReadCase{4, 8, 2, false},
    ReadCase{4, 9, 2, false},  ReadCase{4, 2, 2, false},
    ReadCase{5, 225, 0, true}, ReadCase{5, 190, 1, true}, ReadCase{5, 150, 2, true},
    ReadCase{5, 95, 3, true},  ReadCase{5, 80, 4, true},  ReadCase{5, 1, 1, false},
    ReadCase{8, 2, 2, true},   ReadCase{8, 3, 0, false},  ReadCase{8, 0xFFFFFFFF, 0, false},
    ReadCase{17, 2, 2, true},  ReadCase{17, 3, 0, false},
    ReadCase{18, 4, 4, true},  ReadCase{18, 5, 2, false},
    ReadCase{13, 0, 0, true},  ReadCase{13, 5, 2, false},
    ReadCase{14, 4, 4, true},  ReadCase{14, 0x80000000, 2, false}));
// clang-format on

struct WriteCase {
    std::uint8_t option;
    int applied;
    bool writable;
    std::uint8_t byte;
    const char *label;
};

void PrintTo(const WriteCase &c, std::ostream *out) {
    *out << "option " << int(c.option) << " applied " << c.applied;
}

class AppliedValues : public ::testing::TestWithParam<WriteCase> {};

TEST_P(AppliedValues, BecomeBytesAndLabels) {
    const WriteCase &c = GetParam();
    const SettingDescription *setting = FindSetting(c.option);
    ASSERT_NE(setting, nullptr);
    std::uint8_t byte = 0xAA;
    EXPECT_EQ(WrittenByteFor(*setting, c.applied, byte), c.writable);
    EXPECT_EQ(byte, c.writable ? c.byte : 0xAA);
    EXPECT_STREQ(LabelFor(*setting, c.applied), c.label);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Mappings, AppliedValues, ::testing::Values(
    WriteCase{1, 1, true, 1, "TRUE"},       WriteCase{3, 0, true, 0, "FALSE"},
    WriteCase{4, 0, true, 0, "30 ms"},      WriteCase{4, 3, true, 3, "100 ms"},
    WriteCase{4, 4, false, 0, "100 ms"},
    WriteCase{5, 0, true, 2, "Low"},        WriteCase{5, 1, true, 1, "Medium"},
    WriteCase{5, 2, true, 0, "High"},       WriteCase{5, 3, true, 3, "Strong"},
    WriteCase{5, 4, true, 4, "Strongest"},  WriteCase{5, 5, false, 0, "Strongest"},
    WriteCase{5, -1, false, 0, "Strongest"},
    WriteCase{8, 2, true, 2, "# key only"}, WriteCase{8, 0, true, 0, "With Timeout"},
    WriteCase{17, 1, true, 1, "Normal"},    WriteCase{17, -1, false, 0, "High"},
    WriteCase{18, 4, true, 4, "4"},
    WriteCase{13, 0, true, 0, "8 dB"},      WriteCase{13, 4, true, 4, "54 dB"},
    WriteCase{14, 0, true, 0, "-6 dB"},     WriteCase{14, 9, false, 0, "6 dB"}));
// clang-format on

class DialogClose : public ::testing::Test {
  protected:
    SettingsValues values;  // all thirty-two at zero, as at program start
};

TEST_F(DialogClose, CancelMakesEveryAppliedValueEqualItsDeviceValue) {
    int value = 1;
    for (const SettingDescription &setting : AllSettings()) {
        setting.device.Set(values, setting.kind == SettingKind::Flag ? value % 2 : value % 5);
        setting.applied.Set(values, 7);
        ++value;
    }
    CopyDeviceToApplied(values);
    for (const SettingDescription &setting : AllSettings()) {
        EXPECT_EQ(setting.applied.Get(values), setting.device.Get(values)) << setting.name;
    }
}

class ConfirmGates : public DialogClose, public ::testing::WithParamInterface<GateCase> {};

TEST_P(ConfirmGates, PutSettingsTheFirmwareLacksBackToTheirFixedValues) {
    const GateCase &c = GetParam();
    for (const SettingDescription &setting : AllSettings()) setting.applied.Set(values, 1);
    values.a_hook_speed_index = 3;
    GateAppliedValues(values, c.version);
    for (const SettingDescription &setting : AllSettings()) {
        SCOPED_TRACE(setting.name);
        const bool gated = c.gated.count(setting.option) != 0;
        EXPECT_EQ(SettingAvailable(setting, c.version), !gated);
        const int expected = !gated ? (setting.option == 4 ? 3 : 1) : setting.gated_value;
        EXPECT_EQ(setting.applied.Get(values), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, ConfirmGates, ::testing::ValuesIn(kGateCases),
                         [](const auto &info) { return GateCaseName(info.param); });

}  // namespace
}  // namespace tornelvox
