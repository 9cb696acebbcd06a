// The line itself: links, closing and reopening the port, unplugging, idling without spinning,
// pacing, counters and the transcript.
#include <gtest/gtest.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "tests/emulator/emulator_fixture.h"

namespace tornelvox::emulator::testing {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::chrono::nanoseconds ProcessCpuTime() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
}

// CPU time the whole process spends while the test thread sleeps for `idle`.
std::chrono::nanoseconds CpuWhileIdle(milliseconds idle) {
    const auto before = ProcessCpuTime();
    std::this_thread::sleep_for(idle);
    return ProcessCpuTime() - before;
}

TEST_F(EmulatorTest, LinkPointsAtTheLineAndGoesAwayOnStop) {
    Begin();
    char folder_template[] = "/tmp/emulator-link-XXXXXX";
    ASSERT_NE(mkdtemp(folder_template), nullptr);
    const std::filesystem::path folder = folder_template;
    const std::filesystem::path link = folder / "cu.usbserial-1410";

    ASSERT_TRUE(adapter->LinkAt(link.string()));
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), adapter->DevicePath());
    SlavePort via_link(link.string());
    EXPECT_EQ(via_link.Exchange(kProbe, 8).size(), 8u);

    adapter->Stop();
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(link)));
    std::filesystem::remove_all(folder);
}

// An unplugged adapter's node goes away, as a USB serial node does. A link left behind would
// point at a pseudo-terminal number the system gives to the next one opened, perhaps another
// process's adapter, and a retry through it would talk to that one.
TEST_F(EmulatorTest, LinkGoesWithTheUnplugAndComesBackWithTheReplug) {
    char folder_template[] = "/tmp/emulator-link-XXXXXX";
    ASSERT_NE(mkdtemp(folder_template), nullptr);
    const std::filesystem::path folder = folder_template;
    const std::filesystem::path link = folder / "cu.usbserial-1410";
    const auto link_exists = [&] {
        return std::filesystem::exists(std::filesystem::symlink_status(link));
    };
    EmulatedAdapter adapter;
    ASSERT_TRUE(adapter.Start());
    ASSERT_TRUE(adapter.LinkAt(link.string()));
    adapter.AddFault({.code = kCodeProbe, .kind = FaultKind::kUnplug});
    EXPECT_TRUE(SlavePort(link.string()).Exchange(kProbe, 8).empty());
    EXPECT_FALSE(adapter.Plugged());
    EXPECT_FALSE(link_exists()) << "unplugged by a fault";

    ASSERT_TRUE(adapter.Replug());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), adapter.DevicePath());
    EXPECT_EQ(SlavePort(link.string()).Exchange(kProbe, 8).size(), 8u);

    adapter.Unplug();
    EXPECT_FALSE(link_exists()) << "unplugged";
    std::filesystem::remove_all(folder);
}

// A second adapter plugged into the same socket: the link names it as soon as the first one is
// unplugged, before anyone sees the hang-up. Each adapter's device-tree entry goes and comes
// with its node, carrying its USB serial number.
TEST_F(EmulatorTest, SecondAdapterTakesOverTheLinkAndEachKeepsItsDeviceTreeEntry) {
    char folder_template[] = "/tmp/emulator-link-XXXXXX";
    ASSERT_NE(mkdtemp(folder_template), nullptr);
    const std::filesystem::path folder = folder_template;
    const std::filesystem::path link = folder / "cu.usbserial-1410";
    const std::filesystem::path tree = folder / "sys";
    const auto serial_of = [&](const std::string &node) {
        const auto device =
            tree / "class" / "tty" / std::filesystem::path(node).filename() / "device";
        std::error_code error;
        const auto usb = std::filesystem::canonical(device, error).parent_path();
        if (error) return std::string("(no entry)");
        std::ifstream in(usb / "serial");
        std::string serial;
        std::getline(in, serial);
        return serial;
    };
    EmulatedAdapter first({.usb_serial = "A1"});
    EmulatedAdapter second({.bt_address = {0x21, 0x43, 0x65, 0x87, 0xA9, 0xCB}});
    ASSERT_TRUE(first.Start());
    ASSERT_TRUE(second.Start());
    ASSERT_TRUE(first.ListInDeviceTree(tree.string()));
    ASSERT_TRUE(second.ListInDeviceTree(tree.string()));
    ASSERT_TRUE(first.LinkAt(link.string()));
    EXPECT_EQ(serial_of(first.DevicePath()), "A1");
    EXPECT_EQ(serial_of(second.DevicePath()), "") << "a bridge without a serial number";
    first.PlugInAfterUnplug(second);
    first.AddFault({.code = kCodeProbe, .kind = FaultKind::kUnplug});

    EXPECT_TRUE(SlavePort(link.string()).Exchange(kProbe, 8).empty());
    EXPECT_EQ(std::filesystem::read_symlink(link).string(), second.DevicePath());
    EXPECT_EQ(SlavePort(link.string()).Exchange(kProbe, 8).size(), 8u);
    EXPECT_EQ(second.CountOf(kCodeProbe), 1);
    const std::string unplugged_node = first.DevicePath();
    EXPECT_EQ(serial_of(unplugged_node), "(no entry)");

    second.Unplug();
    ASSERT_TRUE(first.Replug());
    EXPECT_EQ(serial_of(first.DevicePath()), "A1");
    first.Stop();
    second.Stop();
    std::filesystem::remove_all(folder);
}

TEST_F(EmulatorTest, LineStaysUpWhileThePortIsClosed) {
    Begin();
    port->Close();
    EXPECT_LT(CpuWhileIdle(milliseconds(100)), milliseconds(20));
    SlavePort reopened(adapter->DevicePath());
    EXPECT_EQ(reopened.Exchange(kProbe, 8).size(), 8u);
    EXPECT_TRUE(adapter->Plugged());
}

TEST_F(EmulatorTest, UnplugHangsUpTheUtilitySide) {
    Begin();
    EXPECT_EQ(port->Exchange(kProbe, 8).size(), 8u);
    adapter->Unplug();
    EXPECT_FALSE(adapter->Plugged());
    const long result = port->ReadOnce(milliseconds(200));
    EXPECT_TRUE(result == 0 || result == -1) << "read gives end of file or an error: " << result;
    EXPECT_FALSE(port->Write(kProbe));
    EXPECT_FALSE(SlavePort(adapter->DevicePath()).Exchange(kProbe, 8).size() == 8u);
}

TEST_F(EmulatorTest, IdlesWithoutSpinning) {
    Begin();
    EXPECT_LT(CpuWhileIdle(milliseconds(200)), milliseconds(20)) << "port open, line quiet";
    ASSERT_TRUE(port->Write({0x58, 0x53}));  // a partial frame waiting for its rest
    EXPECT_LT(CpuWhileIdle(milliseconds(200)), milliseconds(20)) << "partial frame pending";
    adapter->Unplug();
    EXPECT_LT(CpuWhileIdle(milliseconds(200)), milliseconds(20)) << "after unplugging";
}

TEST_F(EmulatorTest, NeverReadingAdapterLeavesInputOnTheLineWithoutSpinning) {
    Begin({.never_reads = true});
    ASSERT_TRUE(port->Write(kProbe));
    EXPECT_TRUE(port->Read(8, milliseconds(100)).empty()) << "nothing is answered";
    EXPECT_LT(CpuWhileIdle(milliseconds(200)), milliseconds(20)) << "input waiting unread";
    EXPECT_EQ(adapter->BytesReceived(), 0u);
    EXPECT_TRUE(adapter->Frames().empty()) << adapter->Transcript();
    adapter->Unplug();
    EXPECT_FALSE(adapter->Plugged());
}

TEST_F(EmulatorTest, PacedLineTakesItsLineTime) {
    Begin({.line_baud = 9600});
    const auto start = Clock::now();
    EXPECT_EQ(port->Exchange(kVersionQuery, 33).size(), 33u);
    const auto elapsed = Clock::now() - start;
    ASSERT_TRUE(adapter->WaitForFrames(kCodeVersion, 1, kHandled));
    EXPECT_EQ(adapter->BytesReceived(), 2u);
    EXPECT_EQ(adapter->BytesSent(), 33u);
    const auto line_time = adapter->LineTime();  // 35 bytes at 960 bytes per second
    EXPECT_NEAR(std::chrono::duration<double>(line_time).count(), 35.0 / 960.0, 1e-6);
    EXPECT_GE(elapsed, line_time - milliseconds(2));
}

TEST_F(EmulatorTest, UnpacedLineCountsBytesAtTheReferenceRate) {
    Begin();
    EXPECT_EQ(port->Exchange(PageReadFrame(0), 4110).size(), 0u) << "not in the boot loader";
    EXPECT_EQ(port->Exchange(kVersionQuery, 33).size(), 33u);
    // The reply can be read before the emulator has counted it: wait until it has.
    ASSERT_TRUE(adapter->WaitForFrames(kCodeVersion, 1, kHandled));
    EXPECT_EQ(adapter->BytesReceived(), 14u);
    EXPECT_EQ(adapter->BytesSent(), 33u);
    EXPECT_NEAR(std::chrono::duration<double>(adapter->LineTime()).count(), 47.0 / 11520.0, 1e-6);
}

TEST_F(EmulatorTest, TranscriptShowsDirectionCodeAndAbbreviatedBytes) {
    Begin();
    EnterBootLoader();
    ASSERT_EQ(port->Exchange(PageReadFrame(0xFD000), 4110).size(), 4110u);
    ASSERT_TRUE(port->Write({0x77}));
    EXPECT_EQ(port->Exchange(kProbe, 8).size(), 8u);
    const std::string transcript = adapter->Transcript();
    EXPECT_NE(transcript.find("-> [1] 01 E0 FC 01 00\n"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("<- [18] 04 0E"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("(4110 bytes)"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find("?? unexpected 77"), std::string::npos) << transcript;
}

}  // namespace
}  // namespace tornelvox::emulator::testing
