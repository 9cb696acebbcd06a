// `settings` prints what the firmware has; `settings set` writes what it is given, and refuses
// names, values and settings it cannot write with the valid ones listed.
#include <gtest/gtest.h>

#include <iterator>
#include <nlohmann/json.hpp>

#include "cli/exit_status.h"
#include "cli_fixture.h"

namespace tornelvox::cli_test {
namespace {

bool Holds(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CliTest, SettingsPrintsEveryOneTheFirmwareHas) {
    StartEmulator(1, {"--version", "0x300"});
    const Finished finished = Run({"settings"});
    EXPECT_EQ(finished.status, 0) << finished.err;
    EXPECT_TRUE(Holds(finished.out, "\nCaller ID = ")) << finished.out;
    EXPECT_TRUE(Holds(finished.out, "\nRoboCall Block = ")) << finished.out;
    // DTMF settings come with firmware 302.
    EXPECT_FALSE(Holds(finished.out, "DTMF")) << finished.out;
}

TEST_F(CliTest, SettingsSetWritesAndReadsBack) {
    StartEmulator(1);
    const Finished set = Run({"settings", "set", "caller_id=false", "HOOK-SPEED=100 ms",
                              "mic volume=3", "dial plan=# KEY ONLY"});
    EXPECT_EQ(set.status, 0) << set.out << set.err;
    EXPECT_TRUE(Holds(set.out, "\n ====> Device Setting \n")) << set.out;
    EXPECT_TRUE(Holds(set.out, " Set Caller ID to FALSE\n")) << set.out;
    EXPECT_TRUE(Holds(set.out, "\n Set Device parameters done. \n")) << set.out;

    const Finished read = Run({"settings"});
    for (const char *line : {"\nCaller ID = FALSE\n", "\nHook Speed = 100 ms\n",
                             "\nMIC volume = 45 dB\n", "\nDial plan = # key only\n"}) {
        EXPECT_TRUE(Holds(read.out, line)) << line << read.out;
    }
}

// Caller ID's reads go unanswered: its fallback (TRUE) is what a value would wrongly show.
constexpr const char *kCallerIdSilent[] = {"--silent-setting", "1"};

TEST_F(CliTest, SettingNotReadIsSaidSoInsteadOfAValue) {
    StartEmulator(1, {std::begin(kCallerIdSilent), std::end(kCallerIdSilent)});
    const Finished text = Run({"settings"});
    EXPECT_EQ(text.status, cli::ToInt(cli::ExitStatus::kSettingsFailed)) << text.out;
    EXPECT_TRUE(Holds(text.out, " Can't get CID parameter !!!\n")) << text.out;
    EXPECT_FALSE(Holds(text.out, "\nCaller ID = ")) << text.out;
    EXPECT_TRUE(Holds(text.out, "\nCaller ID: not read\n")) << text.out;
    EXPECT_TRUE(Holds(text.out, "\nStrong Ringing = FALSE\n")) << text.out;

    const Finished json = Run({"settings", "--json"});
    EXPECT_EQ(json.status, cli::ToInt(cli::ExitStatus::kSettingsFailed));
    const nlohmann::json result = ParseLines(json.out).back();
    EXPECT_EQ(result.value("status", ""), "settings-failed") << result;
    EXPECT_EQ(result["settings"]["Caller ID"], nlohmann::json({{"read", false}})) << result;
    EXPECT_EQ(result["settings"]["Strong Ringing"],
              nlohmann::json({{"read", true}, {"value", "FALSE"}}))
        << result;
}

// A setting whose current value was not read is written, even when what is given equals its
// fallback; one that was read and already holds the value given is not.
TEST_F(CliTest, SettingsSetWritesWhatItCouldNotRead) {
    StartEmulator(1, {std::begin(kCallerIdSilent), std::end(kCallerIdSilent)});
    const Finished set = Run({"settings", "set", "Caller ID=TRUE", "Strong Ringing=FALSE"});
    EXPECT_TRUE(Holds(set.out,
                      "\n ====> Device Setting \n Set Caller ID to TRUE\n\n Set Device "
                      "parameters done. \n"))
        << set.out;
    // Written, but the value it had was never read.
    EXPECT_EQ(set.status, cli::ToInt(cli::ExitStatus::kSettingsFailed)) << set.out;
}

struct RefusedCase {
    const char *name;
    const char *version;
    std::string assignment;
    cli::ExitStatus status;
    std::vector<std::string> said;  // in stderr
};

class SettingsSetRefusedTest : public CliTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(SettingsSetRefusedTest, NothingIsWritten) {
    const RefusedCase &row = GetParam();
    StartEmulator(1, {"--version", row.version});
    const Finished finished = Run({"settings", "set", "Caller ID=FALSE", row.assignment});
    EXPECT_EQ(finished.status, cli::ToInt(row.status));
    for (const std::string &text : row.said) {
        EXPECT_TRUE(Holds(finished.err, text)) << text << "\n" << finished.err;
    }
    EXPECT_FALSE(Holds(finished.out, "Device Setting")) << finished.out;
    const Finished read = Run({"settings"});
    EXPECT_TRUE(Holds(read.out, "\nCaller ID = TRUE\n")) << read.out;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SettingsSetRefusedTest,
    ::testing::Values(
        RefusedCase{"UnknownName",
                    "0x302",
                    "Volume=3",
                    cli::ExitStatus::kBadUsage,
                    {"No setting is called \"Volume\"", "Caller ID, ", "Echo Depth Control"}},
        RefusedCase{"UnknownValue",
                    "0x302",
                    "speaker=loud",
                    cli::ExitStatus::kBadUsage,
                    {"SPEAKER cannot be \"loud\"", "-6 dB, -3 dB, 0 dB, 3 dB, 6 dB (or 0 to 4)"}},
        RefusedCase{
            "NotAssignment", "0x302", "speaker", cli::ExitStatus::kBadUsage, {"is not NAME=VALUE"}},
        RefusedCase{"FirmwareLacksIt",
                    "0x300",
                    "DTMF Tone Command=TRUE",
                    cli::ExitStatus::kSettingsFailed,
                    {"has no setting DTMF Tone Command", "RoboCall Block"}}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox::cli_test
