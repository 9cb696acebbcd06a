// Candidate names, the probe and the search over a folder of device links.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "serial/serial_link.h"
#include "tests/support/recording_window.h"
#include "tests/support/scripted_peer.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;
using testing::FromHex;
using testing::ScriptedPeer;

TEST(CandidateNames, FollowTheUsbSerialNamingRule) {
    const std::pair<const char *, bool> cases[] = {
        {"cu.usbserial-1410", true},
        {"cu.usbmodem14101", true},
        {"cu.wchusbserial1410", true},
        {"cu.usb0", true},
        {"cu.usb", false},
        {"cu.USBserial", false},
        {"tty.usbserial-1410", false},
        {"cu.Bluetooth-Incoming-Port", false},
        {"cu.u", false},
        {"", false},
        {"ttyUSB0", true},
        {"ttyACM12", true},
        {"ttyUSB", false},
        {"ttyUSB0x", false},
        {"ttyS0", false},
        {"usbcu.usbx", false},
    };
    for (auto [name, candidate] : cases) EXPECT_EQ(CheckName(name), candidate) << name;
}

// The frame of code; the probe's and the reset's frames read no inputs.
Bytes FrameOf(int code) {
    unsigned char frame[kMaxFrameSize];
    return Bytes(frame, frame + BuildFrame(code, FrameInputs{}, frame));
}

const Bytes kProbeAnswer = FromHex("04 0E 05 01 E0 FC 00 00");
const Bytes kResetAnswer = FromHex("04 0E 0C 01 E0 FC 00 00 00 00 00 00 00 00 00");
const Bytes kResetDone = FromHex("04 0E 02 01 00");

// The reset request answered, or met with silence (two attempts per frame).
void ScriptReboot(ScriptedPeer &peer, bool answered) {
    for (int round = 0; round < 2; ++round) {
        for (int code : {kCmdResetFirst, kCmdResetSecond}) {
            if (answered) {
                peer.Then(FrameOf(code), {code == kCmdResetFirst ? kResetAnswer : kResetDone});
            } else {
                peer.Then(FrameOf(code));
                peer.Then(FrameOf(code));
            }
        }
    }
}

class Search : public ::testing::Test {
  protected:
    void SetUp() override {
        window_.InstallAsMessageSink(session);
        session.ReadCallTimeoutMs = 25;  // room for a peer thread on a busy machine
        char pattern[] = "/tmp/tornelvox-devXXXXXX";
        folder_ = mkdtemp(pattern);
        session.DeviceDirectory = folder_;
    }
    void TearDown() override { fs::remove_all(folder_); }
    std::string Link(const std::string &name, const std::string &target) {
        const std::string path = folder_ + "/" + name;
        fs::create_symlink(target, path);
        return path;
    }
    std::string folder_;
    testing::RecordingWindow window_;
    LinkSession session;
};

TEST_F(Search, FindsTheDeviceThatAnswersAndClosesThePort) {
    ScriptedPeer adapter;
    adapter.Then(FrameOf(kCmdProbe), {kProbeAnswer});
    ScriptReboot(adapter, true);
    adapter.Start();
    const std::string path = Link("cu.usbserial-1410", adapter.Path());
    Link("tty.usbserial-1410", "/nonexistent");  // not a candidate: never opened
    Link("cu.usbmodem-gone", "/nonexistent");    // a candidate that cannot be opened

    ASSERT_TRUE(SearchCOMM(session));
    EXPECT_STREQ(session.ComPortName, path.c_str());
    EXPECT_EQ(session.hComm, 0);
    const std::string log = window_.Log();
    EXPECT_EQ(log.rfind("\n Search Device ...\n", 0), 0u) << log;
    EXPECT_NE(log.find("\t Check port : " + path + "\n Found device on " + path + "\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("tty.usbserial"), std::string::npos) << log;
    EXPECT_EQ(adapter.Finish(), "");
}

TEST_F(Search, DeviceThatAnswersOnlyAfterARebootIsFound) {
    ScriptedPeer adapter;
    adapter.Then(FrameOf(kCmdProbe));
    adapter.Then(FrameOf(kCmdProbe));
    ScriptReboot(adapter, true);
    adapter.Then(FrameOf(kCmdProbe), {kProbeAnswer});
    ScriptReboot(adapter, true);
    adapter.Start();
    const std::string path = Link("cu.usbserial-1", adapter.Path());
    EXPECT_TRUE(SearchCOMM(session));
    EXPECT_EQ(window_.Log(), "\n Search Device ...\n\t Check port : " + path +
                                 "\n Found device on " + path + "\n");
    EXPECT_EQ(adapter.Finish(), "");
}

TEST_F(Search, SilentDeviceIsProbedTwiceRebootedTwiceAndNotFound) {
    ScriptedPeer silent;
    silent.Then(FrameOf(kCmdProbe));
    silent.Then(FrameOf(kCmdProbe));
    ScriptReboot(silent, false);
    silent.Then(FrameOf(kCmdProbe));
    silent.Then(FrameOf(kCmdProbe));
    ScriptReboot(silent, false);
    silent.Start();
    const std::string path = Link("ttyUSB0", silent.Path());
    EXPECT_FALSE(SearchCOMM(session));
    EXPECT_EQ(window_.Log(), "\n Search Device ...\n\t Check port : " + path + "\n");
    EXPECT_STREQ(session.ComPortName, path.c_str());  // names the last candidate probed
    EXPECT_EQ(session.hComm, 0);
    EXPECT_EQ(silent.Finish(), "");
}

TEST_F(Search, MissingFolderLogsOnlyTheHeader) {
    session.DeviceDirectory = folder_ + "/missing";
    EXPECT_FALSE(SearchCOMM(session));
    EXPECT_EQ(window_.Log(), "\n Search Device ...\n");
}

TEST_F(Search, EntriesTooLongForThePathBufferAreSkipped) {
    Link("cu.usbserial-" + std::string(kPortPathSize, '9'), "/nonexistent");
    EXPECT_FALSE(SearchCOMM(session));
    EXPECT_EQ(window_.Log(), "\n Search Device ...\n");
}

// A folder listed first (the demo mode's runtime folder) comes before the device folder, each
// folder's candidates in the order of their names; unset, the same as the device folder or
// missing, it adds nothing.
TEST_F(Search, FirstFolderIsListedBeforeTheDeviceFolder) {
    const std::string first = folder_ + "/first";
    fs::create_directory(first);
    fs::create_symlink("/nonexistent", first + "/cu.usbserial-EMULATED");
    fs::create_symlink("/nonexistent", first + "/cu.usbmodem-B");
    fs::create_symlink("/nonexistent", first + "/not-a-node");
    const std::string a = Link("cu.usbserial-A", "/nonexistent");
    const std::string tty = Link("ttyUSB0", "/nonexistent");
    const std::vector<std::string> device_folder_only = {a, tty};
    const struct {
        const char *name;
        std::string first_folder;
        std::vector<std::string> candidates;
    } cases[] = {
        {"none", "", device_folder_only},
        {"first folder",
         first,
         {first + "/cu.usbmodem-B", first + "/cu.usbserial-EMULATED", a, tty}},
        {"the device folder itself", folder_, device_folder_only},
        {"missing", folder_ + "/missing", device_folder_only},
    };
    for (const auto &c : cases) {
        session.FirstDeviceDirectory = c.first_folder;
        EXPECT_EQ(CandidateNodes(session), c.candidates) << c.name;
    }
}

// The adapter in the first folder is found before any node of the device folder is opened, and
// those are named as not checked.
TEST_F(Search, AdapterInTheFirstFolderIsFoundFirst) {
    ScriptedPeer adapter;
    adapter.Then(FrameOf(kCmdProbe), {kProbeAnswer});
    ScriptReboot(adapter, true);
    adapter.Start();
    const std::string first = folder_ + "/first";
    fs::create_directory(first);
    const std::string path = first + "/cu.usbserial-EMULATED";
    fs::create_symlink(adapter.Path(), path);
    const std::string other = Link("cu.usbserial-0", "/nonexistent");
    session.FirstDeviceDirectory = first;

    ASSERT_TRUE(SearchCOMM(session));
    EXPECT_STREQ(session.ComPortName, path.c_str());
    EXPECT_EQ(session.SearchCandidates, 2u);
    const std::string log = window_.Log();
    EXPECT_EQ(log, "\n Search Device ...\n\t Check port : " + path + "\n Found device on " + path +
                       "\n\t Not checked : " + other +
                       "\n The first adapter found is used. To use another, unplug this one and "
                       "click Check again.\n")
        << log;
    EXPECT_EQ(adapter.Finish(), "");
}

}  // namespace
}  // namespace tornelvox
