// What the end-to-end runs cannot show well: address text both ways, assignments, JSON escaping
// of bytes that are not UTF-8, and the progress arithmetic.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli/button_commands.h"
#include "cli/cli_front_end.h"
#include "cli/json_text.h"
#include "cli/options.h"
#include "cli/progress_meter.h"
#include "cli/setting_assignment.h"
#include "cli/terminal_prompt.h"
#include "firmware/address_backup.h"

namespace tornelvox::cli {
namespace {

TEST(AddressText, MostSignificantByteIsWrittenFirst) {
    const auto built_in = ParseBtAddress("06:04:03:00:01:00");
    ASSERT_TRUE(built_in);
    EXPECT_EQ(*built_in, (BtAddress{0x00, 0x01, 0x00, 0x03, 0x04, 0x06}));
    const BtAddress stored = {0xA7, 0x03, 0x5C, 0x21, 0x9E, 0x40};
    EXPECT_EQ(ParseBtAddress(FormatBtAddress(stored)), stored);
    EXPECT_EQ(ParseBtAddress("40:9e:21:5c:03:a7"), stored);
}

TEST(AddressText, RefusesAnythingElse) {
    for (const char *text :
         {"", "06:04:03:00:01", "06:04:03:00:01:00:", "06-04-03-00-01-00", "06:04:03:00:01:0G",
          "0604030001000", " 06:04:03:00:01:00", "006:04:03:00:01:0"}) {
        EXPECT_FALSE(ParseBtAddress(text)) << text;
    }
}

// --address and --new-address answer the question about the adapter the update began with.
// After an unplug the adapter at the port may be another one, and a script that gave them must
// never write the first adapter's address into it: nothing is answered.
TEST(AddressQuestion, CommandLineAnswersAreNotUsedAfterAnUnplug) {
    if (CanAsk()) GTEST_SKIP() << "standard input is a terminal: the question would be asked";
    const BtAddress first = {0xA7, 0x03, 0x5C, 0x21, 0x9E, 0x40};
    const BtAddress second = {0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB};
    using Kind = AddressQuestion::Kind;
    for (const Kind kind :
         {Kind::kAddressNotRead, Kind::kAdapterMayDiffer, Kind::kAnotherAdapter}) {
        for (const bool given : {true, false}) {
            AddressQuestion question{
                "/dev/ttyUSB0",
                "Another adapter is at the port now.",
                {{second, "stored on the adapter now at the port", "", "", false},
                 {first, "the first adapter's", "", "", false}},
                kind};
            Output output(OutputMode::kPlain);
            AddressChoice choice;
            if (given) choice.given = first;
            choice.new_address = !given;
            CliFrontEnd front_end(output, choice, -1);
            ::testing::internal::CaptureStdout();
            const AddressAnswer answer = front_end.AskForAddress(question);
            const std::string said = ::testing::internal::GetCapturedStdout();
            if (kind == Kind::kAddressNotRead) {
                EXPECT_EQ(answer.kind, given ? AddressAnswer::Kind::kGivenAddress
                                             : AddressAnswer::Kind::kBuiltInAddress);
            } else {
                EXPECT_EQ(answer.kind, AddressAnswer::Kind::kNoAnswer) << said;
                EXPECT_NE(said.find("is not used for this one"), std::string::npos) << said;
            }
        }
    }
}

// Each offered address is one line; a backup record names the port it was saved from and what
// the port's device was, in the words `ports` uses.
TEST(AddressQuestion, ChoicesNameTheDeviceOfTheirBackupRecord) {
    const BtAddress saved = {0x5A, 0x04, 0x33, 0x22, 0x11, 0xC0};
    const struct {
        AddressCandidate candidate;
        const char *text;
    } rows[] = {
        {{saved, "stored on the adapter at FD000", "", "", false},
         "C0:11:22:33:04:5A  stored on the adapter at FD000"},
        {{saved, "address backup", "2026-12-10 16:34", "/dev/ttyUSB0", false,
          "FTDI FT232R USB UART, serial A50285BI"},
         "C0:11:22:33:04:5A  address backup, saved 2026-12-10 16:34, on /dev/ttyUSB0 (FTDI "
         "FT232R USB UART, serial A50285BI)"},
        {{saved, "address backup", "2026-12-10 16:34", "/dev/ttyUSB0", true,
          "USB device, serial A50285BI"},
         "C0:11:22:33:04:5A  address backup, saved 2026-12-10 16:34, on /dev/ttyUSB0 (USB device, "
         "serial A50285BI) (this USB device)"},
        {{saved, "address backup", "2026-12-10 16:34", "/dev/ttyUSB0", false, ""},
         "C0:11:22:33:04:5A  address backup, saved 2026-12-10 16:34, on /dev/ttyUSB0"},
    };
    for (const auto &row : rows) EXPECT_EQ(CandidateText(row.candidate), row.text);
}

struct ButtonAdviceCase {
    const char *line;
    Command running;
    const char *port;
    const char *device_dir;
    const char *said;  // the line added after it, "" for none
};

TEST(ButtonAdvice, EachButtonHasItsCommand) {
    const ButtonAdviceCase cases[] = {
        {" Click \"Update\" to update firmware.", Command::kCheck, "", "",
         " On the command line: tornelvox update\n"},
        {" Click \"Update\" to repair it.", Command::kCheck, "", "",
         " On the command line: tornelvox update\n"},
        {" Click \"Setting\" to set parameters.", Command::kCheck, "", "",
         " On the command line: tornelvox settings\n"},
        {" Click \"Setting\" to set parameters.", Command::kUpdate, "/dev/ttyUSB0", "",
         " On the command line: tornelvox settings --port /dev/ttyUSB0\n"},
        {" Click \"Update\" to update firmware.", Command::kCheck, "", "/tmp/my dev's",
         " On the command line: tornelvox update --device-dir '/tmp/my dev'\\''s'\n"},
        {" Click \"Update\" to update firmware.", Command::kCheck, "/dev/a b", "/dev",
         " On the command line: tornelvox update --port '/dev/a b' --device-dir /dev\n"},
        // The command running goes on to do what the button does.
        {" Click \"Update\" to update firmware.", Command::kUpdate, "", "", ""},
        {" Click \"Update\" to repair it.", Command::kUpdate, "", "", ""},
        {" Click \"Setting\" to set parameters.", Command::kSettings, "", "", ""},
        {" Click \"Setting\" to set parameters.", Command::kSettingsSet, "", "", ""},
        {" Click \"Update\" to update firmware.", Command::kSettingsSet, "", "",
         " On the command line: tornelvox update\n"},
        // Advice that names no button, and lines that only look like advice.
        {" Update firmware before set parameters.", Command::kCheck, "", "", ""},
        {" Click \"Update\" to update firmware now.", Command::kCheck, "", "", ""},
        {"Port: Click \"Update\" to update firmware.", Command::kCheck, "", "", ""},
        {"", Command::kCheck, "", "", ""},
    };
    for (const ButtonAdviceCase &row : cases) {
        EXPECT_EQ(CommandInsteadOfButton(row.line, {row.running, row.port, row.device_dir}),
                  row.said)
            << row.line;
    }
}

// The workflows log in texts of any size: an advice line split across two texts, or one text
// holding several lines, gets its command right after its own line.
TEST(ButtonAdvice, CommandFollowsItsLineHoweverTheLogIsSplit) {
    const std::string shown =
        "\n There is newer firmware available.\n"
        " Click \"Update\" to update firmware.\n"
        " On the command line: tornelvox update\n"
        " Click \"Setting\" to set parameters.\n"
        " On the command line: tornelvox settings\n\n";
    const std::vector<std::vector<std::string>> splits = {
        {"\n There is newer firmware available.\n", " Click \"Update\" to update firmware.\n",
         " Click \"Setting\" to set parameters.\n", "\n"},
        {"\n There is newer firmware available.\n Click \"Update\" to update firmware.\n Click "
         "\"Setting\" to set parameters.\n\n"},
        {"\n There is newer firmware available.\n Click \"Upd", "ate\" to update firmware.",
         "\n Click \"Setting\" to set parameters.\n\n"},
    };
    for (const std::vector<std::string> &texts : splits) {
        Output output(OutputMode::kPlain);
        CliFrontEnd front_end(output, {}, -1);
        front_end.SayButtonCommands({Command::kCheck, "", ""});
        ::testing::internal::CaptureStdout();
        for (const std::string &text : texts) front_end.AddMessage(text);
        EXPECT_EQ(::testing::internal::GetCapturedStdout(), shown) << texts.size();
    }
    // A line far longer than any advice, ending as one, is not taken for it.
    Output output(OutputMode::kPlain);
    CliFrontEnd front_end(output, {}, -1);
    front_end.SayButtonCommands({Command::kCheck, "", ""});
    const std::string long_line = std::string(300, ' ') + "Click \"Update\" to update firmware.\n";
    ::testing::internal::CaptureStdout();
    front_end.AddMessage(long_line.substr(0, 280));
    front_end.AddMessage(long_line.substr(280));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), long_line);
}

// With --json the log objects carry the window's texts alone.
TEST(ButtonAdvice, NoLineIsAddedInJson) {
    Output output(OutputMode::kJson);
    CliFrontEnd front_end(output, {}, -1);
    front_end.SayButtonCommands({Command::kCheck, "", ""});
    ::testing::internal::CaptureStdout();
    front_end.AddMessage(" Click \"Update\" to update firmware.\n");
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(
        nlohmann::json::parse(out),
        (nlohmann::json{{"type", "log"}, {"text", " Click \"Update\" to update firmware.\n"}}));
}

struct ValueCase {
    const char *name;
    const char *value;
    bool ok;
    int index;
};

TEST(Assignments, NamesAndValuesAsTheLogAndDialogSayThem) {
    const ValueCase cases[] = {
        {"Caller ID", "FALSE", true, 0},
        {"caller-id", "true", true, 1},
        {"CALLER_ID", "1", true, 1},
        {" caller id ", " 0 ", true, 0},
        {"Caller ID", "2", false, 0},
        {"Caller ID", "yes", false, 0},
        {"Hook Speed", "30 MS", true, 0},
        {"hook speed", "3", true, 3},
        {"Hook Speed", "4", false, 0},
        {"Hook Speed", "30ms", false, 0},
        {"Dial plan", "without timeout", true, 1},  // label and item differ only in case
        {"MIC volume", "54 dB", true, 4},
        {"MIC volume", "4", true, 4},
        {"SPEAKER", "-6 dB", true, 0},
        {"Off Hook power", "strongest", true, 4},
        {"Off Hook power", "", false, 0},
        {"Off Hook power", "-1", false, 0},
    };
    for (const ValueCase &row : cases) {
        const SettingDescription *setting = FindSettingByName(row.name);
        ASSERT_NE(setting, nullptr) << row.name;
        int value = -1;
        EXPECT_EQ(ParseSettingValue(*setting, row.value, value), row.ok)
            << row.name << "=" << row.value;
        if (row.ok) {
            EXPECT_EQ(value, row.index) << row.name << "=" << row.value;
        }
    }
    EXPECT_EQ(FindSettingByName("Caller"), nullptr);
    EXPECT_EQ(FindSettingByName("CallerID"), nullptr);
}

TEST(Assignments, ParsesAListOrSaysWhatIsWrong) {
    std::vector<SettingAssignment> out;
    std::string error;
    ASSERT_TRUE(ParseAssignments({"Echo Cancel=FALSE", "speaker=3 dB"}, out, error)) << error;
    ASSERT_EQ(out.size(), 2u);
    EXPECT_STREQ(out[1].setting->name, "SPEAKER");
    EXPECT_EQ(out[1].value, 3);

    EXPECT_FALSE(ParseAssignments({"Echo Cancel=FALSE", "echo-cancel=TRUE"}, out, error));
    EXPECT_NE(error.find("more than once"), std::string::npos) << error;
    EXPECT_FALSE(ParseAssignments({"Hook Speed=fast"}, out, error));
    EXPECT_NE(error.find("30 ms, 50 ms, 70 ms, 100 ms (or 0 to 3)"), std::string::npos) << error;
    EXPECT_FALSE(ParseAssignments({"Dial plan=never"}, out, error));
    // The dialog's items that differ from the labels only in case are not listed twice.
    EXPECT_NE(error.find("With Timeout, Without Timeout, # key only (or 0 to 2)"),
              std::string::npos)
        << error;
}

TEST(JsonText, InvalidBytesBecomeLatin1Escapes) {
    struct Case {
        std::string text;
        std::string escaped;  // the string as the JSON line writes it
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"caf\xC3\xA9", "\"caf\\u00e9\""},  // valid UTF-8: its code point
        {"\xFF\xFE", "\"\\u00ff\\u00fe\""},
        {"a\xC3", "\"a\\u00c3\""},                                 // cut short at the end
        {"\xC0\xAF", "\"\\u00c0\\u00af\""},                        // overlong
        {"\xED\xA0\x80", "\"\\u00ed\\u00a0\\u0080\""},             // a surrogate
        {"\xF4\x90\x80\x80", "\"\\u00f4\\u0090\\u0080\\u0080\""},  // beyond U+10FFFF
        {"\xF0\x9F\x98\x80", "\"\\ud83d\\ude00\""},                // a valid four-byte sequence
        {std::string("nul\0x", 5), "\"nul\\u0000x\""},
    };
    for (const Case &row : cases) {
        const std::string line = JsonLine({{"text", ValidUtf8(row.text)}});
        EXPECT_EQ(line, "{\"text\":" + row.escaped + "}\n");
        EXPECT_TRUE(nlohmann::json::accept(line)) << line;
    }
}

TEST(Progress, RisesEvenlyAcrossTheStages) {
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kErasing, 0, 30}), 0.0);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kErasing, 30, 30}), 100.0 * 30 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kWriting, 0, 254}), 100.0 * 30 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kWriting, 127, 254}), 100.0 * 157 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kVerifying, 1, 2}), 100.0 * 285 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({2, UpdateStage::kVerifying, 2, 2}), 100.0);
    // Reports out of bounds stay within the stage.
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kErasing, 99, 30}), 100.0 * 30 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kWriting, -5, 254}), 100.0 * 30 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kErasing, 15, 0}), 100.0 * 15 / 286);
}

// Reading the whole image back adds 128 steps to verifying, each about as long as a page write;
// every report says so, so the earlier stages shrink from the start instead of the bar jumping
// back when verifying begins.
TEST(Progress, WholeImageVerificationWeighsItsPageReads) {
    constexpr int kWhole = kWholeImageVerifyingSteps;
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kErasing, 30, 30, kWhole}), 100.0 * 30 / 414);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kWriting, 254, 254, kWhole}),
                     100.0 * 284 / 414);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kVerifying, 66, kWhole, kWhole}),
                     100.0 * 350 / 414);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kVerifying, kWhole, kWhole, kWhole}), 100.0);
    // A verifying size of neither kind counts as the check value's.
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kVerifying, 1, 2, 7}), 100.0 * 285 / 286);
    EXPECT_DOUBLE_EQ(OverallPercent({1, UpdateStage::kVerifying, 66, kWhole, 2}), 100.0);
}

// --verify-all belongs to update (and so to update --all), off unless given.
TEST(Options, VerifyAllIsAnUpdateOptionOffByDefault) {
    struct Row {
        std::vector<std::string> args;
        bool parses;
        bool verify_all;
    };
    const Row rows[] = {
        {{"update"}, true, false},
        {{"update", "--verify-all"}, true, true},
        {{"update", "--all", "--verify-all", "--yes"}, true, true},
        {{"check", "--verify-all"}, false, false},
        {{"settings", "--verify-all"}, false, false},
    };
    for (const Row &row : rows) {
        CLI::App app{"tornelvox"};
        Options options;
        DefineOptions(app, options);
        std::vector<std::string> reversed(row.args.rbegin(), row.args.rend());
        bool parsed = true;
        try {
            app.parse(reversed);
        } catch (const CLI::ParseError &) {
            parsed = false;
        }
        const std::string line = row.args[0] + (row.args.size() > 1 ? " " + row.args[1] : "");
        EXPECT_EQ(parsed, row.parses) << line;
        EXPECT_EQ(options.verify_all, row.verify_all) << line;
    }
}

TEST(Progress, TimeLeftAsMinutesAndSeconds) {
    EXPECT_EQ(TimeLeftText(-1.0), "--:--");  // not known yet
    EXPECT_EQ(TimeLeftText(90.0), "1:30");
    EXPECT_EQ(TimeLeftText(60.6), "1:01");
    EXPECT_EQ(TimeLeftText(0.0), "0:00");
    EXPECT_EQ(TimeLeftText(6000.0), "--:--");  // beyond 99:59
}

TEST(Progress, BarFitsTheTerminalAndShowsTheReportsTimeLeft) {
    UpdateProgress step{2, UpdateStage::kWriting, 127, 254};
    step.seconds_left = 75.0;
    for (int columns : {20, 40, 80, 200}) {
        const std::string line = BarLine(step, columns);
        EXPECT_LT(line.size(), static_cast<std::size_t>(columns)) << line;
        EXPECT_EQ(line.rfind("attempt 2  writing", 0), 0u) << line;
    }
    EXPECT_NE(BarLine(step, 80).find(" 54 %  1:15 left"), std::string::npos);
    step.seconds_left = -1.0;
    EXPECT_NE(BarLine(step, 80).find("--:-- left"), std::string::npos);
    EXPECT_EQ(SecondsLeftJson(step), nullptr);
}

}  // namespace
}  // namespace tornelvox::cli
