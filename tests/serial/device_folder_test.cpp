// The search over folders of real-looking serial devices: echoing, streaming, silent and stuck
// devices, nodes that are gone or held by another program, and one or two adapters. Only a
// device that answers as the adapter's chip does counts; the others are passed over with a word
// in the log, and none of them gets a boot loader, erase or page frame, nor any reset frame once
// it has answered with bytes of another kind.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "emulator/emulated_adapter.h"
#include "emulator/foreign_device.h"
#include "firmware/firmware_update.h"
#include "serial/serial_link.h"
#include "tests/support/recording_window.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;
using emulator::AdapterConfig;
using emulator::EmulatedAdapter;
using emulator::ForeignDevice;
using emulator::ForeignKind;

enum class Node { kEcho, kStream, kSilent, kStuck, kGone, kHeld, kAdapter };

struct FolderCase {
    const char *name;
    std::vector<Node> nodes;  // in the order of their names
    int found;                // index of the node found; -1 for none
    // What the log says right after a node's "Check port" line, by index ("" for nothing).
    std::vector<std::string> said;
};

void PrintTo(const FolderCase &c, std::ostream *os) {
    *os << c.name;
}

// Frames no device but the adapter may ever get: boot loader entry, write enable, erase, pages.
bool ForbiddenForAForeignDevice(int code) {
    return (code >= kCmdHandshake && code <= kCmdReadFlashId) ||
           (code >= kCmdWriteEnableFirst && code <= kCmdReadParameterPage);
}

class DeviceFolder : public ::testing::Test {
  protected:
    void SetUp() override {
        session.ReadCallTimeoutMs = 5;
        char pattern[] = "/tmp/tornelvox-devices-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder_ = pattern;
        session.DeviceDirectory = folder_;
    }
    void TearDown() override {
        ClosePort(session);
        if (held_ >= 0) close(held_);
        for (auto &device : foreign_) device->Stop();
        for (auto &adapter : adapters_) adapter->Stop();
        fs::remove_all(folder_);
    }

    // Node i's path: names that sort in the row's order.
    std::string PathOf(std::size_t i) const {
        return folder_ + "/cu.usbserial-" + static_cast<char>('A' + i);
    }

    void Plug(Node node, std::size_t i) {
        const std::string path = PathOf(i);
        switch (node) {
            case Node::kEcho:
            case Node::kStream:
            case Node::kSilent: {
                const ForeignKind kind = node == Node::kEcho     ? ForeignKind::kEcho
                                         : node == Node::kStream ? ForeignKind::kStream
                                                                 : ForeignKind::kSilent;
                foreign_.push_back(std::make_unique<ForeignDevice>(kind));
                ASSERT_TRUE(foreign_.back()->Start());
                ASSERT_TRUE(foreign_.back()->LinkAt(path));
                foreign_at_.push_back(i);
                break;
            }
            case Node::kStuck:
            case Node::kHeld:
            case Node::kAdapter: {
                adapters_.push_back(std::make_unique<EmulatedAdapter>(
                    AdapterConfig{.never_reads = node == Node::kStuck}));
                ASSERT_TRUE(adapters_.back()->Start());
                ASSERT_TRUE(adapters_.back()->LinkAt(path));
                adapter_at_.push_back(i);
                if (node == Node::kHeld) {
                    // Another program holds it: its own open, with the lock careful openers take.
                    held_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
                    ASSERT_GE(held_, 0);
                    ASSERT_EQ(flock(held_, LOCK_EX | LOCK_NB), 0);
                }
                break;
            }
            case Node::kGone:
                fs::create_symlink(folder_ + "/no-such-node", path);  // unplugged
                break;
        }
    }

    std::string folder_;
    std::vector<std::unique_ptr<ForeignDevice>> foreign_;
    std::vector<std::size_t> foreign_at_;
    std::vector<std::unique_ptr<EmulatedAdapter>> adapters_;
    std::vector<std::size_t> adapter_at_;
    int held_ = -1;
    LinkSession session;
};

class DeviceFolders : public DeviceFolder, public ::testing::WithParamInterface<FolderCase> {};

TEST_P(DeviceFolders, OnlyTheAdapterCountsAndOthersGetNoFlashFrames) {
    const FolderCase &c = GetParam();
    for (std::size_t i = 0; i < c.nodes.size(); ++i) Plug(c.nodes[i], i);
    testing::RecordingWindow window(session);

    EXPECT_EQ(SearchCOMM(session), c.found >= 0);

    const std::string log = window.Log();
    if (c.found >= 0) {
        EXPECT_STREQ(session.ComPortName, PathOf(static_cast<std::size_t>(c.found)).c_str());
        EXPECT_NE(log.find(" Found device on " + PathOf(static_cast<std::size_t>(c.found)) + "\n"),
                  std::string::npos)
            << log;
    }
    EXPECT_EQ(session.hComm, 0) << "the search leaves the port closed";
    for (std::size_t i = 0; i < c.said.size(); ++i) {
        if (c.said[i].empty()) continue;
        const std::string line = "\t Check port : " + PathOf(i) + "\n" + c.said[i];
        EXPECT_NE(log.find(line), std::string::npos) << "node " << i << "\n" << log;
    }
    // Candidates after the one found are named, not probed.
    for (std::size_t i = static_cast<std::size_t>(c.found) + 1; c.found >= 0 && i < c.nodes.size();
         ++i) {
        EXPECT_NE(log.find("\t Not checked : " + PathOf(i) + "\n"), std::string::npos) << log;
    }

    for (std::size_t d = 0; d < foreign_.size(); ++d) {
        const std::vector<int> codes = foreign_[d]->ReceivedCodes();
        const Node kind = c.nodes[foreign_at_[d]];
        for (int code : codes) EXPECT_FALSE(ForbiddenForAForeignDevice(code)) << code;
        if (kind == Node::kSilent) {
            // It may be the adapter, hung: probed, reset, probed again, reset; every frame twice,
            // as each exchange makes two attempts.
            const std::vector<int> reset = {kCmdResetFirst,  kCmdResetFirst, kCmdResetSecond,
                                            kCmdResetSecond, kCmdResetFirst, kCmdResetFirst,
                                            kCmdResetSecond, kCmdResetSecond};
            std::vector<int> expected = {kCmdProbe, kCmdProbe};
            expected.insert(expected.end(), reset.begin(), reset.end());
            expected.insert(expected.end(), {kCmdProbe, kCmdProbe});
            expected.insert(expected.end(), reset.begin(), reset.end());
            EXPECT_EQ(codes, expected) << "node " << d;
        } else if (static_cast<int>(foreign_at_[d]) < c.found || c.found < 0) {
            // Answered with bytes of another kind: two probes, and no reset at all.
            EXPECT_EQ(codes, (std::vector<int>{kCmdProbe, kCmdProbe})) << "node " << foreign_at_[d];
        }
    }
}

const std::string kNotTheAdapter =
    "\t   Not the adapter: the device answered with bytes of another kind.\n";

INSTANTIATE_TEST_SUITE_P(
    Folders, DeviceFolders,
    ::testing::Values(
        FolderCase{"EchoThenAdapter", {Node::kEcho, Node::kAdapter}, 1, {kNotTheAdapter}},
        FolderCase{"StreamThenAdapter", {Node::kStream, Node::kAdapter}, 1, {kNotTheAdapter}},
        FolderCase{"SilentThenAdapter", {Node::kSilent, Node::kAdapter}, 1, {}},
        FolderCase{"StuckThenAdapter", {Node::kStuck, Node::kAdapter}, 1, {}},
        FolderCase{"GoneThenAdapter", {Node::kGone, Node::kAdapter}, 1, {"\t   Not found: "}},
        FolderCase{"HeldThenAdapter", {Node::kHeld, Node::kAdapter}, 1, {"\t   Port busy: "}},
        FolderCase{"TwoAdaptersTheFirstByName", {Node::kAdapter, Node::kAdapter}, 0, {}},
        FolderCase{
            "EveryKindBeforeTheAdapter",
            {Node::kEcho, Node::kStream, Node::kGone, Node::kHeld, Node::kAdapter, Node::kAdapter},
            4,
            {kNotTheAdapter, kNotTheAdapter, "\t   Not found: ", "\t   Port busy: "}},
        FolderCase{
            "NoAdapter", {Node::kEcho, Node::kStream}, -1, {kNotTheAdapter, kNotTheAdapter}}),
    [](const auto &info) { return std::string(info.param.name); });

// A node the user may not open is passed over with the reason, and the search goes on. Run as
// an ordinary user: a child process that drops its privileges.
TEST_F(DeviceFolder, UnreadableNodeIsExplainedAndPassedOver) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to drop privileges in a child";
    Plug(Node::kAdapter, 0);
    Plug(Node::kAdapter, 1);
    // The first node belongs to root alone; the second anyone may use.
    ASSERT_EQ(chmod(adapters_[0]->DevicePath().c_str(), 0600), 0);
    ASSERT_EQ(chown(adapters_[0]->DevicePath().c_str(), 0, 0), 0);
    ASSERT_EQ(chmod(adapters_[1]->DevicePath().c_str(), 0666), 0);
    ASSERT_EQ(chmod(folder_.c_str(), 0755), 0);
    const std::string log_path = folder_ + "/child.log";
    std::ofstream(log_path).close();  // the child may write it, not make it
    ASSERT_EQ(chmod(log_path.c_str(), 0666), 0);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const gid_t none[] = {65534};
        if (setgroups(1, none) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
        std::string log;
        session.SetMessageSink([&log](const std::string &text) { log += text; });
        const bool found = SearchCOMM(session);
        session.SetMessageSink(nullptr);
        FILE *out = std::fopen(log_path.c_str(), "w");
        if (out == nullptr) _exit(3);
        std::fputs(log.c_str(), out);
        std::fputs(session.ComPortName, out);
        std::fclose(out);
        _exit(found ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "cannot drop privileges here";
    std::ifstream in(log_path);
    const std::string log((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(WEXITSTATUS(status), 0) << log;
    EXPECT_NE(log.find("\t Check port : " + PathOf(0) + "\n\t   Permission denied: "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find(" Found device on " + PathOf(1) + "\n"), std::string::npos) << log;
}

// A node's line settings as another opener sees them (a test's own open, no lock).
termios LineSettingsOf(const std::string &path) {
    termios settings{};
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    if (fd >= 0) {
        EXPECT_EQ(tcgetattr(fd, &settings), 0) << path;
        close(fd);
    }
    return settings;
}

bool SameLineSettings(const termios &a, const termios &b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::equal(std::begin(a.c_cc), std::end(a.c_cc), b.c_cc) &&
           cfgetispeed(&a) == cfgetispeed(&b) && cfgetospeed(&a) == cfgetospeed(&b);
}

// Whoever set up a device's line (a console's rate, its echo) finds it as it was: a device the
// search probed and that is not the adapter gets its line settings back when the port closes.
TEST_F(DeviceFolder, DevicesThatAreNotTheAdapterGetTheirLineSettingsBack) {
    const Node kinds[] = {Node::kEcho, Node::kStream, Node::kSilent};
    std::vector<termios> before;
    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        Plug(kinds[i], i);
        before.push_back(LineSettingsOf(PathOf(i)));
    }
    testing::RecordingWindow window(session);

    EXPECT_FALSE(SearchCOMM(session));

    for (std::size_t i = 0; i < std::size(kinds); ++i) {
        EXPECT_TRUE(SameLineSettings(before[i], LineSettingsOf(PathOf(i)))) << PathOf(i) << "\n"
                                                                            << window.Log();
    }
}

// The boot loader entry starts with the same probe: a device that answers otherwise gets
// nothing more, not even a reset.
TEST(ForeignDeviceUpdate, BootLoaderEntryStopsAtTheProbe) {
    FirmwareSession session;
    session.ReadCallTimeoutMs = 5;
    for (ForeignKind kind : {ForeignKind::kEcho, ForeignKind::kStream}) {
        ForeignDevice device(kind);
        ASSERT_TRUE(device.Start());
        char folder[] = "/tmp/tornelvox-foreign-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        const std::string path = std::string(folder) + "/cu.usbserial-X";
        ASSERT_TRUE(device.LinkAt(path));
        std::snprintf(session.ComPortName, sizeof session.ComPortName, "%s", path.c_str());
        ASSERT_TRUE(InitPort(session));

        session.FailCode = kFailNone;
        EXPECT_EQ(Set2Boot(session), 0);
        EXPECT_EQ(session.FailCode, kFailProbe);
        ClosePort(session);
        device.Stop();
        fs::remove_all(folder);
        EXPECT_EQ(device.ReceivedCodes(), (std::vector<int>{kCmdProbe, kCmdProbe}));
    }
}

}  // namespace
}  // namespace tornelvox
