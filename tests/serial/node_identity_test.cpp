// Which device a node is, from a stand-in for the system's device tree: the USB strings as the
// device gave them (made printable and bounded), or the driver of a node that is not USB.
#include "serial/node_identity.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support/temporary_folder.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path &path, const std::string &text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

// A device tree with one node, ttyX, and a node file for it to resolve.
class DeviceTree : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(root_.empty());
        fs::create_directories(root_ / "dev");
        Write(root_ / "dev" / "ttyX", "");
        // The names a user sees are links, as the search's call-out names are.
        fs::create_symlink(root_ / "dev" / "ttyX", root_ / "dev" / "cu.usbserial-X");
    }

    // Lists ttyX with its device at device (relative to the tree) and the driver bound at
    // driver_at (relative too; empty for none).
    void List(const std::string &device, const std::string &driver_at, const std::string &driver) {
        fs::create_directories(root_ / "sys" / device);
        fs::create_directories(root_ / "sys" / "class" / "tty" / "ttyX");
        fs::create_directory_symlink(root_ / "sys" / device,
                                     root_ / "sys" / "class" / "tty" / "ttyX" / "device");
        if (!driver_at.empty()) {
            fs::create_directories(root_ / "sys" / "bus" / "drivers" / driver);
            fs::create_directory_symlink(root_ / "sys" / "bus" / "drivers" / driver,
                                         root_ / "sys" / driver_at / "driver");
        }
    }

    NodeIdentity Identify() {
        return IdentifyNode((root_ / "sys").string(), (root_ / "dev" / "cu.usbserial-X").string());
    }

    testing::TemporaryFolder folder_{"tornelvox-sysfs"};
    const fs::path root_ = folder_.path();
};

constexpr char kUsbDevice[] = "devices/usb1/1-1";

struct UsbCase {
    const char *name;
    // Where the tty's device is, below the USB device (a port folder in the interface, or the
    // interface itself).
    const char *tty_device;
    const char *maker;  // nullptr: the file is missing
    const char *product;
    const char *serial;
    const char *description;
};

class UsbNodes : public DeviceTree, public ::testing::WithParamInterface<UsbCase> {};

TEST_P(UsbNodes, AreDescribedByTheirStrings) {
    const UsbCase &row = GetParam();
    const std::string usb = kUsbDevice;
    List(usb + row.tty_device, usb + "/1-1:1.0", "ftdi_sio");
    Write(root_ / "sys" / usb / "idVendor", "0403\n");
    Write(root_ / "sys" / usb / "idProduct", "6001\n");
    if (row.maker) Write(root_ / "sys" / usb / "manufacturer", row.maker);
    if (row.product) Write(root_ / "sys" / usb / "product", row.product);
    if (row.serial) Write(root_ / "sys" / usb / "serial", row.serial);

    const NodeIdentity identity = Identify();
    EXPECT_TRUE(identity.usb);
    EXPECT_EQ(identity.driver, "ftdi_sio");
    EXPECT_EQ(DeviceDescription(identity), row.description);
    EXPECT_EQ(DeviceKind(identity), "USB serial device");
}

const std::string kLongProduct(400, 'P');

INSTANTIATE_TEST_SUITE_P(
    Rows, UsbNodes,
    ::testing::Values(
        UsbCase{"PortFolderInTheInterface", "/1-1:1.0/ttyX", "FTDI\n", "FT232R USB UART\n",
                "A50285BI\n", "FTDI FT232R USB UART, serial A50285BI"},
        UsbCase{"InterfaceIsTheDevice", "/1-1:1.0", "Maker", "Gadget", "7",
                "Maker Gadget, serial 7"},
        UsbCase{"NoStringsGivesTheNumbers", "/1-1:1.0/ttyX", nullptr, nullptr, nullptr,
                "USB device 0403:6001"},
        UsbCase{"NoSerialNumber", "/1-1:1.0", "Maker", "Gadget", nullptr, "Maker Gadget"},
        UsbCase{"ProductOnly", "/1-1:1.0", nullptr, "Gadget", "S1", "Gadget, serial S1"},
        UsbCase{"ControlsAreShownEscaped", "/1-1:1.0", "Evil\x1b[2J", "Cable\tX", "A\rB",
                "Evil\\x1B[2J Cable\\x09X, serial A"},
        UsbCase{"OnlyTheFirstLineCounts", "/1-1:1.0", "Maker\nforged line", "Gadget", "S1",
                "Maker Gadget, serial S1"}),
    [](const ::testing::TestParamInfo<UsbCase> &info) { return info.param.name; });

TEST_F(DeviceTree, ALongStringIsCut) {
    const std::string usb = kUsbDevice;
    List(usb + "/1-1:1.0", "", "");
    Write(root_ / "sys" / usb / "idVendor", "0403\n");
    Write(root_ / "sys" / usb / "product", std::string(4000, 'P'));
    const NodeIdentity identity = Identify();
    EXPECT_EQ(identity.product.size(), kLongestDeviceText);
}

TEST_F(DeviceTree, ANodeThatIsNotUsbIsNamedByItsDriver) {
    List("devices/platform/serial8250/tty/ttyX", "devices/platform/serial8250/tty/ttyX",
         "serial8250");
    const NodeIdentity identity = Identify();
    EXPECT_FALSE(identity.usb);
    EXPECT_EQ(DeviceDescription(identity), "serial port, driver serial8250");
    EXPECT_EQ(DeviceKind(identity), "Serial port");
}

TEST_F(DeviceTree, ANodeTheTreeDoesNotListIsSaidSo) {
    const NodeIdentity identity = Identify();
    EXPECT_FALSE(identity.listed);
    EXPECT_EQ(DeviceDescription(identity), "not in the system's device list");
    EXPECT_EQ(DeviceKind(identity), "Serial device");
    EXPECT_EQ(DeviceDescription(IdentifyNode((root_ / "sys").string(), "/no/such/node")),
              "not in the system's device list");
}

TEST_F(DeviceTree, APseudoTerminalIsSaidToBeOne) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const NodeIdentity identity = IdentifyNode((root_ / "sys").string(), ptsname(master));
    close(master);
    EXPECT_TRUE(identity.pseudo_terminal);
    EXPECT_EQ(DeviceDescription(identity), "pseudo-terminal");
    EXPECT_EQ(DeviceKind(identity), "Pseudo-terminal");
}

}  // namespace
}  // namespace tornelvox
