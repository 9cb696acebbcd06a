// `tornelvox ports` names each node's device as the system's device tree describes it, beside
// what the probe found: a USB adapter by its maker, product and serial number, a serial port
// that is not USB by its driver, and a node that cannot be opened by what little is known.
// Run in this process, so that the session reads a stand-in device tree.
#include <gtest/gtest.h>
#include <limits.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "emulator/device_tree.h"
#include "emulator/emulated_adapter.h"
#include "emulator/foreign_device.h"
#include "tests/support/temporary_folder.h"

namespace tornelvox::cli {
namespace {

namespace emu = tornelvox::emulator;
namespace fs = std::filesystem;

constexpr char kSerial[] = "A50285BI";

// A device folder with four candidate nodes and a stand-in device tree:
//   cu.usbserial-1  an emulated adapter, listed as a USB device with its strings;
//   cu.usbserial-2  a device that echoes, on a pseudo-terminal the tree does not list;
//   cu.usbserial-3  a node that is no terminal, listed as a serial port of the serial8250 driver;
//   cu.usbserial-4  a link to a node that is gone, listed nowhere.
class PortsDevice : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        fs::create_directory(root_ / "dev");
        session_->DeviceDirectory = (root_ / "dev").string();
        session_->SysfsRoot = (root_ / "sys").string();

        ASSERT_TRUE(adapter_.Start());
        ASSERT_TRUE(adapter_.ListInDeviceTree(session_->SysfsRoot));
        ASSERT_TRUE(adapter_.LinkAt(Node(1)));

        ASSERT_TRUE(echo_.Start());
        ASSERT_TRUE(echo_.LinkAt(Node(2)));

        std::ofstream(root_ / "ttyS9") << "not a terminal";
        fs::create_symlink(root_ / "ttyS9", Node(3));
        ListAsSerialPort(Node(3));

        fs::create_symlink(root_ / "gone" / "ttyUSB7", Node(4));
    }

    void TearDown() override {
        echo_.Stop();
        adapter_.Stop();
    }

    std::string Node(int number) const {
        return (root_ / "dev" / ("cu.usbserial-" + std::to_string(number))).string();
    }

    // Lists the node behind link as a serial port on the platform bus, as the kernel lists a
    // built-in port: a device folder with a driver link and no USB device above it.
    void ListAsSerialPort(const std::string &link) {
        char resolved[PATH_MAX];
        ASSERT_NE(realpath(link.c_str(), resolved), nullptr);
        const fs::path sys = session_->SysfsRoot;
        const fs::path device = sys / "devices" / "platform" / "serial8250" / "port0";
        const fs::path driver = sys / "bus" / "platform" / "drivers" / "serial8250";
        const fs::path tty = sys / "class" / "tty" / fs::path(resolved).filename();
        fs::create_directories(device);
        fs::create_directories(driver);
        fs::create_directories(tty);
        fs::create_directory_symlink(driver, device / "driver");
        fs::create_directory_symlink(device, tty / "device");
    }

    // Runs `tornelvox ports` with the output mode given; returns what it wrote on stdout.
    std::string RunPorts(OutputMode mode) {
        Options options;
        options.command = Command::kPorts;
        options.json = mode == OutputMode::kJson;
        Output output(mode);
        StopSignals stop;
        auto front_end = std::make_shared<CliFrontEnd>(output, AddressChoice{}, -1);
        RouteMessagesTo(*session_, front_end);
        RunContext context{options, output, stop, front_end, session_};
        ::testing::internal::CaptureStdout();
        status_ = RunPortsCommand(context);
        return ::testing::internal::GetCapturedStdout();
    }

    testing::TemporaryFolder folder_{"tvx-ports"};
    const fs::path root_ = folder_.path();
    std::shared_ptr<AdapterSession> session_ = std::make_shared<AdapterSession>();
    emu::EmulatedAdapter adapter_{emu::AdapterConfig{.usb_serial = kSerial}};
    emu::ForeignDevice echo_{emu::ForeignKind::kEcho};
    ExitStatus status_ = ExitStatus::kSuccess;
};

std::string Emulated() {
    return std::string(emu::kEmulatedUsbMaker) + " " + emu::kEmulatedUsbProduct + ", serial " +
           kSerial;
}

// Each node's line of what the probe found is followed by the line that names its device.
TEST_F(PortsDevice, EachNodeNamesItsDeviceUnderWhatTheProbeFound) {
    const std::string out = RunPorts(OutputMode::kPlain);
    EXPECT_EQ(status_, ExitStatus::kSuccess) << out;
    struct Row {
        int node;
        std::string found;   // the end of the node's first line
        std::string device;  // the words of its device line
    };
    const Row rows[] = {
        {1, "the adapter, firmware 302 (the emulated adapter)\n", Emulated()},
        {2, "another device (it answered, not as the adapter does)\n", "pseudo-terminal"},
        {3, "cannot be opened:\n", "serial port, driver serial8250"},
        {4, "cannot be opened:\n", "not in the system's device list"},
    };
    for (const Row &row : rows) {
        const std::string first = "  " + Node(row.node) + ": " + row.found;
        const std::size_t at = out.find(first);
        ASSERT_NE(at, std::string::npos) << first << "\n" << out;
        const std::string device = "    device: " + row.device + "\n";
        const std::size_t device_at = out.find(device, at);
        ASSERT_NE(device_at, std::string::npos) << device << "\n" << out;
        // The device line belongs to this node: no other node's line comes between them.
        const std::size_t next = out.find("\n  " + root_.string(), at);
        EXPECT_TRUE(next == std::string::npos || device_at < next) << out;
    }
}

// The JSON entry of each node carries the same identity, the USB strings only for a USB device.
TEST_F(PortsDevice, JsonEntriesCarryTheDevice) {
    const std::string out = RunPorts(OutputMode::kJson);
    std::string last;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) last = line;
    const nlohmann::json result = nlohmann::json::parse(last, nullptr, false);
    ASSERT_TRUE(result.is_object()) << out;
    const nlohmann::json &ports = result["ports"];

    const nlohmann::json usb = {{"usb", true},
                                {"pseudo_terminal", true},
                                {"listed", true},
                                {"description", Emulated()},
                                {"maker", emu::kEmulatedUsbMaker},
                                {"product", emu::kEmulatedUsbProduct},
                                {"serial", kSerial},
                                {"vendor_id", emu::kEmulatedUsbVendorId},
                                {"product_id", emu::kEmulatedUsbProductId},
                                {"driver", emu::kEmulatedUsbDriver}};
    const nlohmann::json terminal = {{"usb", false},
                                     {"pseudo_terminal", true},
                                     {"listed", false},
                                     {"description", "pseudo-terminal"}};
    const nlohmann::json serial_port = {{"usb", false},
                                        {"pseudo_terminal", false},
                                        {"listed", true},
                                        {"description", "serial port, driver serial8250"},
                                        {"driver", "serial8250"}};
    const nlohmann::json unknown = {{"usb", false},
                                    {"pseudo_terminal", false},
                                    {"listed", false},
                                    {"description", "not in the system's device list"}};
    const struct {
        const char *kind;
        const nlohmann::json &device;
    } expected[] = {{"adapter", usb},
                    {"other-device", terminal},
                    {"cannot-open", serial_port},
                    {"cannot-open", unknown}};
    ASSERT_EQ(ports.size(), std::size(expected)) << result;
    for (std::size_t i = 0; i < std::size(expected); ++i) {
        EXPECT_EQ(ports[i].value("path", ""), Node(static_cast<int>(i) + 1));
        EXPECT_EQ(ports[i].value("kind", ""), expected[i].kind) << ports[i];
        EXPECT_EQ(ports[i]["device"], expected[i].device) << ports[i];
    }
}

}  // namespace
}  // namespace tornelvox::cli
