// Each way a command ends has its own exit status, as --help lists them.
#include <gtest/gtest.h>

#include "cli/exit_status.h"
#include "cli_fixture.h"
#include "firmware/firmware_update.h"
#include "tests/support/image_pages.h"

namespace tornelvox::cli_test {
namespace {

using cli::ExitStatus;

// The image a case means something for: a real adapter is refused by the placeholder and
// updated by the vendor's image.
enum class Image { kAny, kPlaceholder, kVendor };

struct StatusCase {
    const char *name;
    bool emulator;  // an emulated adapter at cu.usbserial-1
    std::vector<std::string> emulator_options;
    std::vector<std::string> args;  // "@port" stands for the emulator's link
    ExitStatus status;
    const char *said;  // text the output (stdout and stderr) must hold
    Image image = Image::kAny;
};

const StatusCase kCases[] = {
    {"NoAdapterCheck", false, {}, {"check"}, ExitStatus::kNotFound, "Can't find Tornelvox device"},
    {"NoAdapterUpdate",
     false,
     {},
     {"update", "--yes"},
     ExitStatus::kNotFound,
     "Can't find Tornelvox device"},
    {"MissingPort",
     true,
     {},
     {"check", "--port", "/nonexistent/cu.usbserial-9"},
     ExitStatus::kNotFound,
     "Check port : /nonexistent/cu.usbserial-9"},
    {"Check", true, {}, {"check"}, ExitStatus::kSuccess, "Device Firmware Version = 302"},
    {"CheckGivenPort",
     true,
     {},
     {"check", "--port", "@port"},
     ExitStatus::kSuccess,
     "Device Firmware Version = 302"},
    {"Update", true, {}, {"update", "--yes"}, ExitStatus::kSuccess, "Success"},
    {"AlreadyCurrent",
     true,
     {"--version", "0x603"},
     {"update", "--yes"},
     ExitStatus::kSuccess,
     "nothing to update. Give --force"},
    {"AlreadyCurrentForced",
     true,
     {"--version", "0x603"},
     {"update", "--yes", "--force"},
     ExitStatus::kSuccess,
     "Success"},
    {"UnconfirmedWithoutTerminal", true, {}, {"update"}, ExitStatus::kRefused, "Give --yes"},
    {"RealAdapterWithoutVendorImage",
     true,
     {"--real"},
     {"update", "--yes"},
     ExitStatus::kRefused,
     "This build carries no vendor firmware image",
     Image::kPlaceholder},
    {"RealAdapterWithVendorImage",
     true,
     {"--real"},
     {"update", "--yes"},
     ExitStatus::kSuccess,
     "Success",
     Image::kVendor},
    {"AddressQuestionUnanswered",
     true,
     {"--no-name-page"},
     {"update", "--yes"},
     ExitStatus::kRefused,
     " No BT address was chosen: nothing was erased.\n"},
    {"AddressGiven",
     true,
     {"--no-name-page"},
     {"update", "--yes", "--address", "12:34:56:78:9a:bc"},
     ExitStatus::kSuccess,
     " Using the BT address 12:34:56:78:9A:BC, given on the command line.\n"},
    {"NewAddress",
     true,
     {"--no-name-page"},
     {"update", "--yes", "--new-address"},
     ExitStatus::kSuccess,
     " Using the built-in BT address 06:04:03:00:01:00"},
    {"UnknownCommand", false, {}, {"frobnicate"}, ExitStatus::kBadUsage, "subcommand"},
    {"NoCommand", false, {}, {}, ExitStatus::kBadUsage, "subcommand"},
    {"BadAddress",
     true,
     {},
     {"update", "--yes", "--address", "12:34:56"},
     ExitStatus::kBadUsage,
     "is not a BT address"},
    {"BothAddressAnswers",
     false,
     {},
     {"update", "--address", "12:34:56:78:9A:BC", "--new-address"},
     ExitStatus::kBadUsage,
     "excludes"},
    {"SettingsSetNothing", false, {}, {"settings", "set"}, ExitStatus::kBadUsage, "assignments"},
};

class ExitStatusTest : public CliTest, public ::testing::WithParamInterface<StatusCase> {};

TEST_P(ExitStatusTest, EndsWithItsStatus) {
    const StatusCase &row = GetParam();
    if (row.image == Image::kPlaceholder && kVendorImage) {
        GTEST_SKIP() << "built with the vendor's image, which updates any adapter";
    }
    if (row.image == Image::kVendor && !kVendorImage) {
        GTEST_SKIP() << "built with the placeholder image, which updates only the emulated adapter";
    }
    std::string link;
    if (row.emulator) link = StartEmulator(1, row.emulator_options);
    std::vector<std::string> args = row.args;
    for (std::string &arg : args) {
        if (arg == "@port") arg = link;
    }
    const Finished finished = Run(args);
    ASSERT_TRUE(finished.exited) << finished.out << finished.err;
    EXPECT_EQ(finished.status, cli::ToInt(row.status)) << finished.out << finished.err;
    EXPECT_NE((finished.out + finished.err).find(row.said), std::string::npos)
        << finished.out << finished.err;
}

INSTANTIATE_TEST_SUITE_P(Commands, ExitStatusTest, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST_F(CliTest, HelpAndVersionSucceed) {
    const Finished help = Run({"--help"});
    EXPECT_EQ(help.status, 0);
    for (const char *text : {"Exit status:", "7  bad usage", "00 01 00 03 04 06", "\\u00XX"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    const Finished version = Run({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_NE(version.out.find("6.03"), std::string::npos) << version.out;
}

TEST_F(CliTest, EmulatorHelpDocumentsEveryOption) {
    Child help({EMULATOR_PATH, "--help"}, {});
    const Finished shown = help.Wait(kRunLimit);
    EXPECT_EQ(shown.status, 0) << shown.err;
    for (const char *option :
         {"--version", "--after-update", "--link", "--baud", "--strange-line-mode", "--never-reads",
          "--no-name-page", "--unplug-while-writing", "--unwritten-page", "--boot-loader-silent",
          "--silent-setting", "--real"}) {
        EXPECT_NE(shown.out.find(option), std::string::npos) << option;
    }
    Child wrong({EMULATOR_PATH, "--version", "0x1000"}, {});
    const Finished refused = wrong.Wait(kRunLimit);
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("--version"), std::string::npos) << refused.err;
}

// The Check's log is the window's, line for line; on the command line each advice to click a
// button is followed by the command that does the same, with the node options it was given. The
// JSON log carries the window's texts alone.
TEST_F(CliTest, CheckLogsAsTheWindowDoes) {
    const std::string link = StartEmulator(1);
    const std::string window_log = "\n Search Device ...\n\t Check port : " + link +
                                   "\n Found device on " + link +
                                   "\n Device Firmware Version = 302\n"
                                   " Available Firmware for update = 603\n"
                                   "\n There is newer firmware available.\n"
                                   " Click \"Update\" to update firmware.\n"
                                   " Click \"Setting\" to set parameters.\n\n";
    const std::string options = " --device-dir " + DeviceDir();
    const std::string expected = "\n Search Device ...\n\t Check port : " + link +
                                 "\n Found device on " + link +
                                 "\n Device Firmware Version = 302\n"
                                 " Available Firmware for update = 603\n"
                                 "\n There is newer firmware available.\n"
                                 " Click \"Update\" to update firmware.\n"
                                 " On the command line: tornelvox update" +
                                 options +
                                 "\n"
                                 " Click \"Setting\" to set parameters.\n"
                                 " On the command line: tornelvox settings" +
                                 options + "\n\n";
    const Finished finished = Run({"check"});
    EXPECT_EQ(finished.out, expected);
    EXPECT_EQ(finished.status, 0);

    const Finished json = Run({"check", "--json"});
    std::string logged;
    for (const nlohmann::json &line : ParseLines(json.out)) {
        EXPECT_NE(line.value("type", ""), "message") << line;
        if (line.value("type", "") == "log") logged += line.value("text", "");
    }
    EXPECT_EQ(logged, window_log);
}

// The command named after an advice works as the run was given: --port is carried, quoted for
// the shell when it must be. The command that is running already is not named again.
TEST_F(CliTest, ButtonAdviceNamesTheCommandAsGiven) {
    const std::string link = StartEmulator(1);
    const std::filesystem::path spaced = root_ / "dev" / "my adapter";
    std::filesystem::create_symlink(link, spaced);
    const Finished check = Run({"check", "--port", spaced.string()});
    EXPECT_EQ(check.status, 0) << check.out;
    EXPECT_NE(check.out.find(" Click \"Setting\" to set parameters.\n"
                             " On the command line: tornelvox settings --port '" +
                             spaced.string() + "' --device-dir " + DeviceDir() + "\n"),
              std::string::npos)
        << check.out;

    const Finished update = Run({"update", "--yes", "--port", link});
    EXPECT_EQ(update.status, 0) << update.out;
    EXPECT_EQ(update.out.find("tornelvox update"), std::string::npos) << update.out;
    EXPECT_NE(update.out.find(" Click \"Setting\" to set parameters.\n"
                              " On the command line: tornelvox settings --port " +
                              link),
              std::string::npos)
        << update.out;
}

// An image page the adapter acknowledged but never wrote: the plain update reports success, as
// the check value does not cover the page; --verify-all reads it back, finds it and tries again.
TEST_F(CliTest, VerifyAllFindsAPageTheAdapterDidNotWrite) {
    const int page = testing::PageUnlikeErasedFrom(200);
    if (page < 0) GTEST_SKIP() << "the image is erased from page 200 on";
    char page_hex[16];
    std::snprintf(page_hex, sizeof page_hex, "%x", page);
    const std::string failed =
        std::string(" Fail to verify flash add ") + page_hex + ": it does not read back as written";

    StartEmulator(1, {"--unwritten-page", std::to_string(page)});
    const Finished plain = Run({"update", "--yes"});
    EXPECT_EQ(plain.status, 0) << plain.out;
    EXPECT_EQ(plain.out.find("Read back flash"), std::string::npos) << plain.out;

    StartEmulator(2, {"--unwritten-page", std::to_string(page)});
    const Finished whole =
        Run({"update", "--yes", "--verify-all", "--port", DeviceDir() + "/cu.usbserial-2"});
    EXPECT_EQ(whole.status, 0) << whole.out;
    EXPECT_NE(whole.out.find(failed + "\n Try again. Try count = 1\n"), std::string::npos)
        << whole.out;
    EXPECT_NE(whole.out.find(" Read back flash " + std::string(32, '.') + " Done\n"),
              std::string::npos)
        << whole.out;
}

// The adapter updated under a given address keeps it: the next update reads it back.
TEST_F(CliTest, GivenAddressIsTheOneWritten) {
    StartEmulator(1, {"--no-name-page"});
    ASSERT_EQ(Run({"update", "--yes", "--address", "12:34:56:78:9A:BC"}).status, 0);
    const Finished again = Run({"update", "--yes", "--force", "--json"});
    EXPECT_EQ(again.status, 0);
    EXPECT_NE(again.out.find("\"address\":\"12:34:56:78:9A:BC\""), std::string::npos) << again.out;
}

}  // namespace
}  // namespace tornelvox::cli_test
