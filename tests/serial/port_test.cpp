// Opening, configuring, reopening and closing the port.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "serial/standard_descriptors.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

class Port : public ::testing::Test {
  protected:
    testing::ScriptedPeer peer;
    // Made after the peer and so ended before it: the session closes its port first.
    LinkSession session;
};

TEST_F(Port, RawModeAt115200) {
    ASSERT_TRUE(OpenPort(session, peer.Path().c_str()));
    termios before{};
    ASSERT_EQ(tcgetattr(session.hComm, &before), 0);
    ASSERT_TRUE(SetParameters(session, 115200));
    termios after{};
    ASSERT_EQ(tcgetattr(session.hComm, &after), 0);
    EXPECT_EQ(after.c_iflag & (INLCR | IGNCR | ICRNL | IXON | IXOFF), 0u);
    EXPECT_EQ(after.c_oflag & (ONLCR | OCRNL), 0u);
    EXPECT_EQ(after.c_oflag & OPOST, 0u);  // no output processing at all
    EXPECT_EQ(after.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(after.c_cflag & (CSIZE | PARENB | CSTOPB | CREAD), CS8 | CREAD);
    EXPECT_EQ(after.c_cc[VMIN], 0);
    EXPECT_EQ(after.c_cc[VTIME], 1);
    EXPECT_EQ(cfgetospeed(&after), B115200);
    EXPECT_EQ(cfgetispeed(&after), B115200);
    // The descriptor is back in blocking mode after the non-blocking open.
    EXPECT_EQ(fcntl(session.hComm, F_GETFL) & O_NONBLOCK, 0);
}

TEST_F(Port, RateRule) {
    const std::pair<int, int> cases[] = {
        {1000000, 115200}, {999999, 999999}, {115200, 115200}, {1000001, 115200}};
    for (auto [asked, applied] : cases) EXPECT_EQ(EffectiveBaudRate(asked), applied) << asked;
    ASSERT_TRUE(OpenPort(session, peer.Path().c_str()));
    EXPECT_TRUE(SetParameters(session, 1000000));
    EXPECT_FALSE(SetParameters(session, 999999));  // no such rate on this host
}

TEST_F(Port, OpenWhileOpenKeepsThePortAndItsName) {
    ASSERT_TRUE(OpenPort(session, peer.Path().c_str()));
    const int descriptor = session.hComm;
    EXPECT_TRUE(OpenPort(session, "/dev/null-other"));
    EXPECT_EQ(session.hComm, descriptor);
    EXPECT_STREQ(session.ComPortName, peer.Path().c_str());
}

TEST_F(Port, FailedOpenLeavesThePathAndFailPortOpen) {
    EXPECT_FALSE(OpenPort(session, "/nonexistent/cu.usbserial-1"));
    EXPECT_EQ(session.hComm, 0);
    EXPECT_EQ(session.FailCode, kFailPortOpen);
    EXPECT_STREQ(session.ComPortName, "/nonexistent/cu.usbserial-1");
}

TEST_F(Port, PathTooLongForTheNameIsRefusedNotCut) {
    const std::string path = "/dev/" + std::string(kPortPathSize, 'x');
    EXPECT_FALSE(OpenPort(session, path.c_str()));
    EXPECT_EQ(session.FailCode, kFailPortOpen);
    EXPECT_EQ(session.hComm, 0);
    EXPECT_STREQ(session.ComPortName, "/dev/");
}

TEST_F(Port, InitPortBeforeAnySearchFails) {
    EXPECT_FALSE(InitPort(session));
    EXPECT_EQ(session.FailCode, kFailPortOpen);
    EXPECT_EQ(session.hComm, 0);
}

TEST_F(Port, CloseKeepsTheNameForReopening) {
    ASSERT_TRUE(OpenPort(session, peer.Path().c_str()));
    ClosePort(session);
    EXPECT_EQ(session.hComm, 0);
    EXPECT_STREQ(session.ComPortName, peer.Path().c_str());
    EXPECT_TRUE(InitPort(session));
    EXPECT_NE(session.hComm, 0);
    ClosePort(session);
    ClosePort(session);  // closing a closed port does nothing
    EXPECT_EQ(session.hComm, 0);
}

}  // namespace
}  // namespace tornelvox

namespace tornelvox {
namespace {

TEST_F(Port, OpenPortHoldsThePortExclusively) {
    ASSERT_TRUE(OpenPort(session, peer.Path().c_str()));
    // A second opener that asks for the lock, as a second copy of the utility does, is refused.
    const int second = open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (second >= 0) {
        EXPECT_NE(flock(second, LOCK_EX | LOCK_NB), 0);
        close(second);
    } else {
        EXPECT_EQ(errno, EBUSY);  // the terminal's exclusive mode refused the open itself
    }
    ClosePort(session);

    // Once closed, the port is free for the next opener, and exclusive mode is cleared.
    const int next = open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(next, 0);
    EXPECT_EQ(flock(next, LOCK_EX | LOCK_NB), 0);

    // A port held by another program cannot be opened: FailCode kFailPortOpen, nothing open.
    session.FailCode = kFailNone;
    EXPECT_FALSE(OpenPort(session, peer.Path().c_str()));
    EXPECT_EQ(session.FailCode, kFailPortOpen);
    EXPECT_EQ(session.hComm, 0);
    close(next);
    EXPECT_TRUE(OpenPort(session, peer.Path().c_str()));
}

// A program that ends with the port open (Close ends it at once) gives the terminal's exclusive
// mode back: it belongs to the node, and would refuse the next opener while anyone else keeps
// the node open.
TEST_F(Port, EndingTheProgramWithThePortOpenGivesExclusiveModeBack) {
    const int watcher = open(peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watcher, 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (!OpenPort(session, peer.Path().c_str())) _exit(3);
        int exclusive = 0;
        if (ioctl(session.hComm, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) _exit(4);
        std::quick_exit(0);  // as Close does, port still open
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    int exclusive = 1;
    ASSERT_EQ(ioctl(watcher, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(watcher);
}

// Two sessions' ports open at once, the first closed before the program ends: the second port's
// exclusive mode is given back all the same, since closing one port forgets that port alone.
TEST_F(Port, EndingTheProgramGivesBackEverySessionsExclusiveMode) {
    testing::ScriptedPeer other_peer;
    const int watcher = open(other_peer.Path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(watcher, 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LinkSession other;
        if (!OpenPort(other, other_peer.Path().c_str())) _exit(3);
        if (!OpenPort(session, peer.Path().c_str())) _exit(4);
        ClosePort(session);
        int exclusive = 0;
        if (ioctl(other.hComm, TIOCGEXCL, &exclusive) != 0 || exclusive == 0) _exit(5);
        std::quick_exit(0);  // as Close does, the other port still open
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_EQ(WEXITSTATUS(status), 0);
    int exclusive = 1;
    ASSERT_EQ(ioctl(watcher, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0);
    close(watcher);
}

// The programs' first step: each closed standard descriptor gets /dev/null, an open one is left
// as it is. Each row runs in a child process with those descriptors closed.
TEST(StandardDescriptors, ClosedOnesGetTheNullDevice) {
    struct stat null_device {};
    ASSERT_EQ(stat("/dev/null", &null_device), 0);
    const std::vector<std::vector<int>> closed_rows = {
        {}, {STDIN_FILENO}, {STDOUT_FILENO}, {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}};
    for (const std::vector<int> &closed : closed_rows) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // An open descriptor is marked by a pipe on it, which must stay.
            int marker[2];
            if (pipe(marker) != 0) _exit(9);
            for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
                if (dup2(marker[0], fd) != fd) _exit(9);
            }
            for (int fd : closed) close(fd);
            if (!EnsureStandardDescriptors()) _exit(10);
            for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
                struct stat now {};
                if (fstat(fd, &now) != 0) _exit(11);
                const bool was_closed = std::find(closed.begin(), closed.end(), fd) != closed.end();
                const bool is_null = S_ISCHR(now.st_mode) && now.st_rdev == null_device.st_rdev;
                if (was_closed != is_null) _exit(12 + fd);
            }
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "closed descriptors: " << closed.size();
    }
}

// Started with standard descriptors closed (as a service or `<&-` may start it), opening the
// port must not take one of them: descriptor 0 reads as "no port", so the node would stay open and
// held, and every later open of it refused, until the program ends. Each row runs in a child
// process with those descriptors closed.
TEST_F(Port, NeverTakesAStandardDescriptor) {
    const std::vector<std::vector<int>> closed_rows = {
        {STDIN_FILENO}, {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}};
    for (const std::vector<int> &closed : closed_rows) {
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (int fd : closed) close(fd);
            if (!OpenPort(session, peer.Path().c_str())) _exit(10);
            if (session.hComm <= STDERR_FILENO) _exit(11);
            ClosePort(session);
            if (!OpenPort(session, peer.Path().c_str())) _exit(12);  // the node was given back
            ClosePort(session);
            for (int fd : closed) {
                if (fcntl(fd, F_GETFD) != -1) _exit(13);  // nothing left behind on it
            }
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0) << "closed descriptors: " << closed.size();
    }
}

}  // namespace
}  // namespace tornelvox
