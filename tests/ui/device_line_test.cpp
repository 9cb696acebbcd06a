// The line under the buttons that says which candidate serial devices are connected: it follows
// the emulated adapter's link as it is plugged, unplugged and plugged back while the window runs,
// without a click and without a frame sent to the adapter because of it, and it names the
// firmware a Check read on that node until the node goes.
#include <QLabel>
#include <filesystem>

#include "emulator/transcript.h"
#include "tests/ui/ui_fixture.h"
#include "ui/demo_mode.h"

namespace tornelvox::testing {
namespace {

namespace fs = std::filesystem;

// A change in a device folder shows within this time (the line lists the folder
// kDeviceListDelayMs after a change).
constexpr int kLineFollowsMs = 5000;

class DeviceLineTest : public MainWindowTest {
  protected:
    std::string Line() const {
        const auto *label = window_->findChild<QLabel *>("lbDevices");
        EXPECT_NE(label, nullptr);
        return label == nullptr ? "" : label->text().toStdString();
    }

    // Waits, without a click, until the line says `expected`; false when it never does.
    bool LineBecomes(const std::string &expected) {
        return WaitFor([&] { return Line() == expected; }, kLineFollowsMs);
    }

    // Frames or stray bytes the adapter received since its records were last cleared.
    std::string Received() const {
        std::string received;
        for (const emulator::FrameRecord &record : adapter_->Frames()) {
            if (record.kind == emulator::RecordKind::kFrame ||
                record.kind == emulator::RecordKind::kUnexpectedBytes) {
                received += emulator::RenderTranscript({record});
            }
        }
        return received;
    }

    std::string UsbLine() const {
        return "USB serial device at " + NodePath() +
               " · Tornelvox Emulated adapter, serial TV0001";
    }
};

TEST_F(DeviceLineTest, FollowsTheAdapterUnpluggedAndPluggedBackWithoutSendingIt) {
    EXPECT_EQ(Line(), "No USB serial device connected");
    const std::string tree = folder_ + "/sys";
    session_->SysfsRoot = tree;

    // Plugged in while the window runs: the line names it, and it is sent nothing.
    adapter_ = std::make_unique<EmulatedAdapter>(AdapterConfig{.usb_serial = "TV0001"});
    ASSERT_TRUE(adapter_->Start());
    ASSERT_TRUE(adapter_->ListInDeviceTree(tree));
    ASSERT_TRUE(adapter_->LinkAt(NodePath()));
    EXPECT_TRUE(LineBecomes(UsbLine())) << Line();
    EXPECT_EQ(Received(), "") << adapter_->Transcript();

    // A Check reads the firmware: the line adds it to that node.
    Check();
    EXPECT_EQ(Line(), UsbLine() + " · adapter, firmware 302") << Log();

    // Unplugged and plugged back: gone, then back without the firmware (what comes back at the
    // path may be another adapter), and nothing sent on the replug.
    adapter_->ClearRecords();
    adapter_->Unplug();
    EXPECT_TRUE(LineBecomes("No USB serial device connected")) << Line();
    ASSERT_TRUE(adapter_->Replug());
    EXPECT_TRUE(LineBecomes(UsbLine())) << Line();
    // Long enough for a frame that a listing had sent to have arrived.
    QTest::qWait(3 * kDeviceListDelayMs);
    EXPECT_EQ(Line(), UsbLine());
    EXPECT_EQ(Received(), "") << adapter_->Transcript();

    Check();
    EXPECT_EQ(Line(), UsbLine() + " · adapter, firmware 302") << Log();
}

TEST_F(DeviceLineTest, ALinkRemovedAndMadeAgainBetweenTwoListingsLosesTheFirmware) {
    PlugAdapter({.version = kOlderVersion});
    const std::string pty_line = "Pseudo-terminal at " + NodePath();
    EXPECT_TRUE(LineBecomes(pty_line)) << Line();
    Check();
    ASSERT_EQ(Line(), pty_line + " · adapter, firmware 302") << Log();

    // Out and in again at once, as `rm` and `ln -s` in a row: one listing, which finds the node
    // there, but another device may be behind it now.
    adapter_->ClearRecords();
    fs::remove(NodePath());
    ASSERT_TRUE(adapter_->LinkAt(NodePath()));
    EXPECT_TRUE(LineBecomes(pty_line)) << Line();
    EXPECT_EQ(Received(), "") << adapter_->Transcript();

    // A second node beside it: each on a line of its own, in the search's order.
    EmulatedAdapter second;
    ASSERT_TRUE(second.Start());
    ASSERT_TRUE(second.LinkAt(folder_ + "/cu.usbserial-0second"));
    EXPECT_TRUE(LineBecomes("Pseudo-terminal at " + folder_ + "/cu.usbserial-0second\n" + pty_line))
        << Line();
    second.Stop();
    EXPECT_TRUE(LineBecomes(pty_line)) << Line();
    EXPECT_EQ(second.BytesReceived(), 0u) << second.Transcript();
}

TEST_F(DeviceLineTest, AnUpdateReplacesTheFirmwareItFoundWithTheNewOne) {
    PlugAdapter({.version = kOlderVersion});
    Check();
    const std::string pty_line = "Pseudo-terminal at " + NodePath();
    ASSERT_EQ(Line(), pty_line + " · adapter, firmware 302") << Log();
    Button("bUpdateFirmware")->click();
    EXPECT_EQ(Line(), pty_line) << "the version known before the update no longer holds";
    ASSERT_TRUE(WaitFor([&] { return session_->LastUpdateEnd != UpdateEnd::kNone; })) << Log();
    ASSERT_EQ(session_->LastUpdateEnd, UpdateEnd::kSuccess) << Log();
    EXPECT_TRUE(LineBecomes(pty_line + " · adapter, firmware 603")) << Line();
}

// The demo mode's adapter, linked in the runtime folder, which the window watches as well.
TEST_F(DeviceLineTest, TheDemoAdapterInTheRuntimeFolder) {
    char runtime[] = "/tmp/tvx-XXXXXX";
    ASSERT_NE(mkdtemp(runtime), nullptr);
    setenv("XDG_RUNTIME_DIR", runtime, 1);
    DemoMode demo;
    std::string error;
    ASSERT_TRUE(demo.Start(session_, {.emulated = true, .full_speed = true}, error)) << error;
    // The program starts the demo before it makes its window.
    window_ = std::make_unique<ViewController>(session_);
    window_->show();
    const std::string demo_line = "Pseudo-terminal at " + demo.LinkPath();
    EXPECT_EQ(Line(), demo_line);

    Check();
    EXPECT_EQ(Line(), demo_line + " · adapter, firmware 302") << Log();

    demo.Stop();
    EXPECT_TRUE(LineBecomes("No USB serial device connected")) << Line();
    window_.reset();
    fs::remove_all(runtime);
    unsetenv("XDG_RUNTIME_DIR");
}

// A first folder that is not there yet when the window starts, made later and removed again.
TEST_F(DeviceLineTest, AFirstFolderThatComesAndGoes) {
    // Short: the node's path must fit a port's name.
    const std::string runtime = folder_ + "/run/u/t";
    session_->FirstDeviceDirectory = runtime;
    window_ = std::make_unique<ViewController>(session_);
    window_->show();
    EXPECT_EQ(Line(), "No USB serial device connected");

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        fs::create_directories(runtime);
        EmulatedAdapter adapter;
        ASSERT_TRUE(adapter.Start());
        ASSERT_TRUE(adapter.LinkAt(runtime + "/cu.usbserial-EMULATED"));
        EXPECT_TRUE(LineBecomes("Pseudo-terminal at " + runtime + "/cu.usbserial-EMULATED"))
            << Line();
        fs::remove_all(folder_ + "/run");
        EXPECT_TRUE(LineBecomes("No USB serial device connected")) << Line();
        EXPECT_EQ(adapter.BytesReceived(), 0u) << adapter.Transcript();
    }
}

}  // namespace
}  // namespace tornelvox::testing
