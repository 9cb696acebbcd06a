// Telling a terminal by its device number from the kernel's tables, given here as fakes: the
// table's lines are read defensively, and a node is judged by the table it is given.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

#include "serial/terminal_node.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

constexpr char kDrivers[] =
    "/dev/tty             /dev/tty        5       0 system:/dev/tty\n"
    "usbserial            /dev/ttyUSB   188 0-511 serial\n"
    "pty_slave            /dev/pts      136 0-1048575 pty:slave\n";

constexpr char kMajors[] =
    "Character devices:\n"
    "  1 mem\n"
    "  8 not-a-disk\n"
    " 10 misc\n"
    " 11 \x1b[31mred\n"
    "188 ttyUSB\n"
    "\n"
    "Block devices:\n"
    "  8 sd\n";

TEST(TerminalDriverTable, KeepsTheLinesThatParseAndPassesOverTheRest) {
    const std::string table = std::string(kDrivers) +
                              "a line of one word\n"
                              "toobig /dev/x 4096 0 serial\n"
                              "backwards /dev/x 4 9-3 serial\n"
                              "nominor /dev/x 4 -3 serial\n"
                              "minorbig /dev/x 4 1048576 serial\n"
                              "overflow /dev/x 4 99999999999999999999 serial\n"
                              "tworanges /dev/x 4 1-2-3 serial\n"
                              "signed /dev/x +4 1 serial\n"
                              "hex /dev/x 0x4 1 serial\n"
                              "\n"
                              "acm\t/dev/ttyACM\t166\t0-255\tserial";  // tabs, no line end
    const std::vector<TerminalDriver> drivers = ParseTerminalDrivers(table);
    struct Expected {
        const char *name;
        unsigned major, first, last;
    };
    const Expected expected[] = {{"/dev/tty", 5, 0, 0},
                                 {"usbserial", 188, 0, 511},
                                 {"pty_slave", 136, 0, 1048575},
                                 {"acm", 166, 0, 255}};
    ASSERT_EQ(drivers.size(), std::size(expected));
    for (std::size_t i = 0; i < drivers.size(); ++i) {
        EXPECT_EQ(drivers[i].name, expected[i].name);
        EXPECT_EQ(drivers[i].major, expected[i].major) << expected[i].name;
        EXPECT_EQ(drivers[i].first_minor, expected[i].first) << expected[i].name;
        EXPECT_EQ(drivers[i].last_minor, expected[i].last) << expected[i].name;
    }
}

TEST(TerminalDriverTable, ReadsOnlyTheFirstLinesOfAnEndlessTable) {
    std::string table;
    for (int i = 0; i < 100000; ++i) table += "junk\n";
    table += "usbserial /dev/ttyUSB 188 0-511 serial\n";
    table += std::string(1 << 20, 'x');  // one endless line
    EXPECT_TRUE(ParseTerminalDrivers(table).empty());
    EXPECT_TRUE(ParseTerminalDrivers(std::string(1 << 20, ' ')).empty());
    EXPECT_TRUE(
        ParseTerminalDrivers(std::string("usbserial /dev/ttyUSB 188\0 0 serial", 35)).empty());
}

struct stat Node(mode_t type, unsigned major_number, unsigned minor_number) {
    struct stat node {};
    node.st_mode = type | 0600;
    node.st_rdev = makedev(major_number, minor_number);
    return node;
}

struct JudgeRow {
    const char *name;
    struct stat node;
    DeviceTables tables;
    bool terminal;
    bool undecided;
    const char *what;
};

TEST(JudgeNode, TellsTerminalsByTheTableItIsGiven) {
    const DeviceTables tables{kDrivers, 0, kMajors};
    const JudgeRow rows[] = {
        {"UsbSerial", Node(S_IFCHR, 188, 3), tables, true, false, "is a terminal (usbserial)"},
        {"LastMinorOfARange", Node(S_IFCHR, 188, 511), tables, true, false,
         "is a terminal (usbserial)"},
        {"PastTheRange", Node(S_IFCHR, 188, 512), tables, false, false,
         "is a character device 188:512 (ttyUSB), not a terminal"},
        {"PseudoTerminal", Node(S_IFCHR, 136, 7), tables, true, false, "is a terminal (pty_slave)"},
        {"PseudoTerminalWithoutItsDriverListed", Node(S_IFCHR, 136, 7),
         DeviceTables{"usbserial /dev/ttyUSB 188 0-511 serial\n", 0, kMajors}, false, false,
         "is a character device 136:7, not a terminal"},
        {"Watchdog", Node(S_IFCHR, 10, 130), tables, false, false,
         "is a character device 10:130 (misc), not a terminal"},
        {"DriverNameWithAnEscape", Node(S_IFCHR, 11, 0), tables, false, false,
         "is a character device 11:0, not a terminal"},
        {"BlockDeviceNamedFromItsOwnSection", Node(S_IFBLK, 8, 0), tables, false, false,
         "is a block device 8:0 (sd)"},
        {"RegularFile", Node(S_IFREG, 0, 0), tables, false, false, "is a regular file"},
        {"Socket", Node(S_IFSOCK, 0, 0), tables, false, false, "is a socket"},
        {"TableUnreadable", Node(S_IFCHR, 188, 3), DeviceTables{"", ENOENT, kMajors}, false, true,
         "is a character device 188:3 (ttyUSB), not a terminal"},
        {"TableOfNothing", Node(S_IFCHR, 188, 3), DeviceTables{"garbage\n", 0, ""}, false, true,
         "is a character device 188:3, not a terminal"},
    };
    for (const JudgeRow &row : rows) {
        const NodeVerdict verdict = JudgeNode(row.node, row.tables);
        EXPECT_EQ(verdict.terminal, row.terminal) << row.name;
        EXPECT_EQ(verdict.undecided, row.undecided) << row.name;
        EXPECT_EQ(verdict.what, row.what) << row.name;
    }
}

// The open itself goes by the table it is given: a pseudo-terminal opens under the kernel's own
// table and is refused, unopened, under one that does not list its driver.
TEST(OpenTerminalNode, GoesByTheTableItIsGiven) {
    testing::ScriptedPeer peer;
    const int flags = O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;

    const int opened = OpenTerminalNode(peer.Path().c_str(), flags, ReadDeviceTables());
    EXPECT_GT(opened, STDERR_FILENO);
    if (opened >= 0) close(opened);

    const DeviceTables without_pseudo_terminals{"usbserial /dev/ttyUSB 188 0-511 serial\n", 0, ""};
    errno = 0;
    EXPECT_EQ(OpenTerminalNode(peer.Path().c_str(), flags, without_pseudo_terminals), -1);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_NE(ExplainNotATerminal(peer.Path(), without_pseudo_terminals)
                  .find("\t   Not a serial port: " + peer.Path() + " is a character device "),
              std::string::npos);

    const DeviceTables unreadable{"", EACCES, ""};
    EXPECT_EQ(OpenTerminalNode(peer.Path().c_str(), flags, unreadable), -1);
    EXPECT_EQ(ExplainNotATerminal(peer.Path(), unreadable),
              "\t   Cannot tell whether " + peer.Path() +
                  " is a serial port: the kernel's list of terminal drivers (/proc/tty/drivers) "
                  "cannot be read (Permission denied). It was not opened.\n");
}

}  // namespace
}  // namespace tornelvox
