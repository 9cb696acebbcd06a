// Only terminals are opened: a node is opened for reading and writing only when its device
// number belongs to a terminal driver the kernel lists; anything else is refused with a line that
// says what it is, without being opened.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "serial/serial_link.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;

class TerminalsOnly : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/tornelvox-nodes-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string folder_;
    LinkSession session;
};

struct NodeRow {
    const char *name;
    // Makes the node in folder and returns its path; empty when this machine cannot make it.
    std::function<std::string(const std::string &folder)> make;
    // What the log says of it after "Not a serial port: PATH ".
    std::function<std::string(const std::string &path)> said;
};

std::string DeviceNumber(const std::string &path) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) return "?";
    return std::to_string(major(node.st_rdev)) + ":" + std::to_string(minor(node.st_rdev));
}

const NodeRow kNodeRows[] = {
    {"RegularFile",
     [](const std::string &folder) {
         const std::string path = folder + "/cu.usbserial-file";
         std::ofstream(path) << "data";
         return path;
     },
     [](const std::string &) { return std::string("is a regular file"); }},
    {"Directory",
     [](const std::string &folder) {
         const std::string path = folder + "/cu.usbserial-dir";
         fs::create_directory(path);
         return path;
     },
     [](const std::string &) { return std::string("is a directory"); }},
    {"NamedPipe",
     [](const std::string &folder) {
         const std::string path = folder + "/cu.usbserial-pipe";
         return mkfifo(path.c_str(), 0600) == 0 ? path : std::string();
     },
     [](const std::string &) { return std::string("is a named pipe"); }},
    {"LinkToADeviceThatIsNoTerminal",
     [](const std::string &folder) {
         const std::string path = folder + "/cu.usbserial-null";
         fs::create_symlink("/dev/null", path);
         return path;
     },
     [](const std::string &path) {
         return "is a character device " + DeviceNumber(path) + " (mem), not a terminal";
     }},
    {"WatchdogLikeNode",
     [](const std::string &folder) {
         // The misc driver's watchdog number; made here only, never opened by the test.
         const std::string path = folder + "/watchdog";
         return mknod(path.c_str(), S_IFCHR | 0600, makedev(10, 130)) == 0 ? path : std::string();
     },
     [](const std::string &) {
         return std::string("is a character device 10:130 (misc), not a terminal");
     }},
    {"BlockDevice",
     [](const std::string &folder) {
         const std::string path = folder + "/disk";
         return mknod(path.c_str(), S_IFBLK | 0600, makedev(7, 0)) == 0 ? path : std::string();
     },
     [](const std::string &) { return std::string("is a block device 7:0"); }},
};

void PrintTo(const NodeRow &row, std::ostream *os) {
    *os << row.name;
}

class NodeKinds : public TerminalsOnly, public ::testing::WithParamInterface<NodeRow> {};

TEST_P(NodeKinds, AreRefusedWithWhatTheyAre) {
    const NodeRow &row = GetParam();
    const std::string path = row.make(folder_);
    if (path.empty()) GTEST_SKIP() << "this machine cannot make the node";
    testing::RecordingWindow window(session);

    EXPECT_FALSE(CheckCOMM(session, path.c_str()));

    EXPECT_EQ(session.hComm, 0);
    EXPECT_EQ(session.FailCode, kFailPortOpen);
    const std::string line = "\t   Not a serial port: " + path + " " + row.said(path);
    EXPECT_NE(window.Log().find(line), std::string::npos) << window.Log();
}

INSTANTIATE_TEST_SUITE_P(Nodes, NodeKinds, ::testing::ValuesIn(kNodeRows),
                         [](const auto &info) { return std::string(info.param.name); });

// The refusal comes before the open: a node that is no terminal is never opened for writing
// (a watchdog acts the moment it is, as root may open it).
TEST_F(TerminalsOnly, ANodeThatIsNoTerminalIsNeverOpenedForWriting) {
    const std::string path = folder_ + "/cu.usbserial-file";
    std::ofstream(path) << "data";
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, path.c_str(), IN_CLOSE_WRITE | IN_MODIFY), 0);

    EXPECT_FALSE(OpenPort(session, path.c_str()));

    alignas(inotify_event) char events[4096];
    const ssize_t got = read(watch, events, sizeof events);
    EXPECT_TRUE(got < 0 && errno == EAGAIN) << "the node was opened for writing";
    close(watch);
}

// A pseudo-terminal has no entry in sysfs, but its driver is in the kernel's list: it opens.
TEST_F(TerminalsOnly, PseudoTerminalOpens) {
    testing::ScriptedPeer peer;
    const std::string link = folder_ + "/cu.usbserial-pty";
    fs::create_symlink(peer.Path(), link);
    EXPECT_TRUE(OpenPort(session, link.c_str()));
    EXPECT_NE(session.hComm, 0);
    EXPECT_EQ(isatty(session.hComm), 1);
}

}  // namespace
}  // namespace tornelvox
