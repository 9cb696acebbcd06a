// The line that says which candidate serial devices are connected: each node's kind, path and
// device in the words used everywhere a device is named, the firmware a Check read on one of
// them, and what the line remembers of that firmware across plugging and unplugging.
#include "workflow/device_status.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "emulator/device_tree.h"
#include "emulator/emulated_adapter.h"
#include "tests/support/temporary_folder.h"

namespace tornelvox {
namespace {

namespace fs = std::filesystem;

NodeIdentity Usb(const std::string &maker, const std::string &product, const std::string &serial) {
    NodeIdentity identity;
    identity.listed = identity.usb = true;
    identity.maker = maker;
    identity.product = product;
    identity.serial = serial;
    identity.vendor_id = "0403";
    identity.product_id = "6001";
    return identity;
}

NodeIdentity Pty() {
    NodeIdentity identity;
    identity.pseudo_terminal = true;
    return identity;
}

NodeIdentity Builtin(const std::string &driver) {
    NodeIdentity identity;
    identity.listed = true;
    identity.driver = driver;
    return identity;
}

const NodeIdentity kFtdi = Usb("FTDI", "FT232R USB UART", "A50285BI");

struct TextCase {
    const char *name;
    std::vector<PresentNode> nodes;
    FirmwareSeen firmware;
    std::string text;
};

void PrintTo(const TextCase &c, std::ostream *os) {
    *os << c.name;
}

class StatusText : public ::testing::TestWithParam<TextCase> {};

TEST_P(StatusText, SaysEachNodeInTheWordsUsedEverywhere) {
    EXPECT_EQ(DeviceStatusText(GetParam().nodes, GetParam().firmware), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, StatusText,
    ::testing::Values(
        TextCase{"None", {}, {}, "No USB serial device connected"},
        TextCase{"NoneButFirmwareOfAGoneNode",
                 {},
                 {"/dev/ttyUSB0", 0x302},
                 "No USB serial device connected"},
        TextCase{"OneUsb",
                 {{"/dev/ttyUSB0", kFtdi}},
                 {},
                 "USB serial device at /dev/ttyUSB0 · FTDI FT232R USB UART, serial A50285BI"},
        TextCase{"OneUsbWithFirmware",
                 {{"/dev/ttyUSB0", kFtdi}},
                 {"/dev/ttyUSB0", 0x302},
                 "USB serial device at /dev/ttyUSB0 · FTDI FT232R USB UART, serial A50285BI"
                 " · adapter, firmware 302"},
        TextCase{"FirmwareOfAFolderGivenWithASlash",
                 {{"/dev/ttyUSB0", kFtdi}},
                 {"/dev//ttyUSB0", 0x603},
                 "USB serial device at /dev/ttyUSB0 · FTDI FT232R USB UART, serial A50285BI"
                 " · adapter, firmware 603"},
        TextCase{"UsbWithoutStrings",
                 {{"/dev/ttyACM0", Usb("", "", "")}},
                 {},
                 "USB serial device at /dev/ttyACM0 · USB device 0403:6001"},
        TextCase{"PseudoTerminalSaidOnce",
                 {{"/run/tornelvox/cu.usbserial-EMULATED", Pty()}},
                 {"/run/tornelvox/cu.usbserial-EMULATED", 0x302},
                 "Pseudo-terminal at /run/tornelvox/cu.usbserial-EMULATED · adapter, firmware 302"},
        TextCase{"NotListed",
                 {{"/dev/cu.usbserial-1", NodeIdentity{}}},
                 {},
                 "Serial device at /dev/cu.usbserial-1 · not in the system's device list"},
        TextCase{"SeveralOnLinesOfTheirOwnFirmwareOnItsNode",
                 {{"/dev/ttyACM0", Builtin("cdc_acm")},
                  {"/dev/ttyUSB0", kFtdi},
                  {"/dev/ttyUSB1", Usb("Prolific", "USB-Serial Controller", "")}},
                 {"/dev/ttyUSB1", 0x1FF},
                 "Serial port at /dev/ttyACM0 · serial port, driver cdc_acm\n"
                 "USB serial device at /dev/ttyUSB0 · FTDI FT232R USB UART, serial A50285BI\n"
                 "USB serial device at /dev/ttyUSB1 · Prolific USB-Serial Controller"
                 " · adapter, firmware 1FF"}),
    [](const ::testing::TestParamInfo<TextCase> &info) { return std::string(info.param.name); });

TEST(FirmwareReadBy, TheQueriedNodeOnlyWhenTheQueryReadAVersion) {
    FirmwareFindings findings;
    EXPECT_EQ(FirmwareReadBy(findings), FirmwareSeen{});
    findings.CurVerNum = 0x302;
    findings.QueriedAdapter.port = "/dev/ttyUSB0";
    EXPECT_EQ(FirmwareReadBy(findings), FirmwareSeen{}) << "a query that read no version";
    findings.QueriedAdapter.version_read = true;
    EXPECT_EQ(FirmwareReadBy(findings), (FirmwareSeen{"/dev/ttyUSB0", 0x302}));
}

// What the line remembers between listings: each step is a listing, a Check's end or nodes gone.
TEST(DeviceStatusMemory, FirmwareGoesWithItsNodeOrALaterCheck) {
    const std::vector<PresentNode> both = {{"/dev/ttyUSB0", kFtdi}, {"/dev/ttyUSB1", kFtdi}};
    const std::vector<PresentNode> second_only = {{"/dev/ttyUSB1", kFtdi}};
    const FirmwareSeen on_first{"/dev/ttyUSB0", 0x302};
    DeviceStatus status;

    status.Listed(both);
    status.Checked(on_first);
    EXPECT_EQ(status.Firmware(), on_first);

    // Another node going and coming changes nothing.
    status.Gone({"/dev/ttyUSB1"});
    status.Listed(both);
    EXPECT_EQ(status.Firmware(), on_first);

    // Unplugged: forgotten, and not back when a device shows up at the same path again.
    status.Listed(second_only);
    EXPECT_EQ(status.Firmware(), FirmwareSeen{});
    status.Listed(both);
    EXPECT_EQ(status.Text().find("firmware"), std::string::npos) << status.Text();

    // Out and back in between two listings: gone all the same.
    status.Checked(on_first);
    status.Gone({"/dev/ttyUSB0"});
    status.Listed(both);
    EXPECT_EQ(status.Firmware(), FirmwareSeen{});

    // A later Check that read nothing, or read another node, replaces what was known.
    status.Checked(on_first);
    status.Checked({});
    EXPECT_EQ(status.Firmware(), FirmwareSeen{});
    status.Checked(on_first);
    status.Checked({"/dev/ttyUSB1", 0x603});
    EXPECT_EQ(status.Firmware(), (FirmwareSeen{"/dev/ttyUSB1", 0x603}));

    // A Check on a node the listing does not hold (it went during the Check) says nothing.
    status.Listed(second_only);
    status.Checked(on_first);
    EXPECT_EQ(status.Firmware(), FirmwareSeen{});
}

// The listing reads the folders and the device tree: the emulator's node linked into a device
// folder, listed as a USB device in a stand-in tree, and nothing sent to it.
TEST(ListPresentNodes, TheFoldersCandidatesAsTheDeviceTreeDescribesThem) {
    const testing::TemporaryFolder temporary("tornelvox-status");
    const fs::path folder = temporary.path();
    ASSERT_FALSE(folder.empty());
    fs::create_directories(folder / "dev");
    fs::create_directories(folder / "run");
    fs::create_directories(folder / "sys");
    emulator::EmulatedAdapter adapter({.usb_serial = "EMU0001"});
    ASSERT_TRUE(adapter.Start());
    ASSERT_TRUE(adapter.LinkAt((folder / "dev" / "cu.usbserial-1").string()));
    ASSERT_TRUE(adapter.LinkAt((folder / "run" / "cu.usbserial-EMULATED").string()));
    ASSERT_TRUE(adapter.ListInDeviceTree((folder / "sys").string()));
    // Not a candidate name: never listed.
    std::ofstream((folder / "dev" / "null-ish")).put('x');

    LinkSession link;
    link.DeviceDirectory = (folder / "dev").string();
    link.FirstDeviceDirectory = (folder / "run").string();
    const std::vector<PresentNode> nodes = ListPresentNodes(link, (folder / "sys").string());

    ASSERT_EQ(nodes.size(), 2u);
    EXPECT_EQ(nodes[0].path, (folder / "run" / "cu.usbserial-EMULATED").string());
    EXPECT_EQ(nodes[1].path, (folder / "dev" / "cu.usbserial-1").string());
    EXPECT_EQ(DeviceStatusText(nodes, {}), "USB serial device at " + nodes[0].path +
                                               " · Tornelvox Emulated adapter, serial " +
                                               "EMU0001\nUSB serial device at " + nodes[1].path +
                                               " · Tornelvox Emulated adapter, serial EMU0001");
    EXPECT_EQ(adapter.BytesReceived(), 0u) << adapter.Transcript();
    adapter.Stop();
}

}  // namespace
}  // namespace tornelvox
