// How the program opens ports when it is started without standard descriptors or given a node
// that is not a serial port.
#include <gtest/gtest.h>

#include "cli/exit_status.h"
#include "cli_fixture.h"

namespace tornelvox::cli_test {
namespace {

// A service, or `<&-`, may start the program with standard input closed; the port must still be
// found and opened, not taken for closed because it got descriptor 0.
TEST_F(CliTest, CheckWorksWithStandardInputClosed) {
    const std::string link = StartEmulator(1);
    std::vector<std::string> argv = {"/bin/sh", "-c", "exec \"$0\" \"$@\" <&-"};
    const std::vector<std::string> program = Argv({"check"});
    argv.insert(argv.end(), program.begin(), program.end());
    Child child(argv, Environment());
    const Finished finished = child.Wait(kRunLimit);
    ASSERT_TRUE(finished.exited) << finished.out << finished.err;
    EXPECT_EQ(finished.status, cli::ToInt(cli::ExitStatus::kSuccess))
        << finished.out << finished.err;
    EXPECT_NE(finished.out.find(" Found device on " + link + "\n"), std::string::npos)
        << finished.out;
}

// A node given with --port that is not a terminal is refused unopened, with what it is.
TEST_F(CliTest, GivenPortThatIsNoTerminalIsRefused) {
    const Finished finished = Run({"check", "--port", "/dev/null"});
    ASSERT_TRUE(finished.exited) << finished.out << finished.err;
    EXPECT_EQ(finished.status, cli::ToInt(cli::ExitStatus::kNotFound));
    EXPECT_NE(finished.out.find("\t   Not a serial port: /dev/null is a character device 1:3 "
                                "(mem), not a terminal"),
              std::string::npos)
        << finished.out << finished.err;
}

}  // namespace
}  // namespace tornelvox::cli_test
