// The program on a terminal, as a person runs it: the confirmation and the address question are
// asked and answered by typing, and the update's progress is drawn as a bar.
#include <gtest/gtest.h>

#include "cli/exit_status.h"
#include "cli_fixture.h"
#include "terminal_child.h"

namespace tornelvox::cli_test {
namespace {

TEST_F(CliTest, OnATerminalTheQuestionsAreAskedAndTheBarDrawn) {
    StartEmulator(1, {"--no-name-page"});
    TerminalChild program(Argv({"update"}), Environment());
    ASSERT_TRUE(program.Started());

    ASSERT_TRUE(program.Expect("[y/N] ", kLineLimit)) << program.Screen();
    program.Type("y\n");
    // The name page is gone and nothing saved an address: the user chooses.
    ASSERT_TRUE(program.Expect("Which BT address is the adapter at", kRunLimit))
        << program.Screen();
    ASSERT_TRUE(program.Expect("the built-in address", kLineLimit)) << program.Screen();
    ASSERT_TRUE(program.Expect("Choose 1 to 2: ", kLineLimit)) << program.Screen();
    program.Type("1\n");
    ASSERT_TRUE(program.Expect("attempt ", kRunLimit)) << program.Screen();  // the bar
    ASSERT_TRUE(program.Expect("%", kLineLimit)) << program.Screen();
    EXPECT_EQ(program.Wait(kRunLimit), cli::ToInt(cli::ExitStatus::kSuccess)) << program.Screen();
    EXPECT_NE(program.Screen().find("Success"), std::string::npos) << program.Screen();
}

struct RefusalCase {
    const char *name;
    std::vector<std::string> emulator_options;
    std::vector<std::string> answers;  // typed one after another, each after its question
};

class TerminalRefusalTest : public CliTest, public ::testing::WithParamInterface<RefusalCase> {};

// Whatever the user declines, nothing is erased: the adapter still runs its firmware.
TEST_P(TerminalRefusalTest, DecliningErasesNothing) {
    const std::string link = StartEmulator(1, GetParam().emulator_options);
    TerminalChild program(Argv({"update"}), Environment());
    const char *questions[] = {"[y/N] ", "Choose 1 to 2: "};
    for (std::size_t i = 0; i < GetParam().answers.size(); ++i) {
        ASSERT_TRUE(program.Expect(questions[i], kRunLimit)) << program.Screen();
        program.Type(GetParam().answers[i]);
    }
    EXPECT_EQ(program.Wait(kRunLimit), cli::ToInt(cli::ExitStatus::kRefused)) << program.Screen();

    const Finished check = Run({"check", "--port", link});
    EXPECT_NE(check.out.find("Device Firmware Version = 302"), std::string::npos) << check.out;
}

INSTANTIATE_TEST_SUITE_P(
    Answers, TerminalRefusalTest,
    ::testing::Values(RefusalCase{"UpdateNotConfirmed", {}, {"n\n"}},
                      RefusalCase{"ConfirmEndsWithTheInput", {}, {"\x04"}},
                      RefusalCase{"NoAddressChosen", {"--no-name-page"}, {"y\n", "2\n"}}),
    [](const auto &info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tornelvox::cli_test
