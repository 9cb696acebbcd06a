#include "emulator/device_tree.h"

#include <filesystem>
#include <fstream>

namespace tornelvox::emulator {
namespace {

namespace fs = std::filesystem;

std::string NodeName(const std::string &node_path) {
    return fs::path(node_path).filename().string();
}

// The USB device's own folder; the tty's interface is a folder inside it.
fs::path DeviceFolder(const std::string &root, const std::string &node) {
    return fs::path(root) / "devices" / ("emulated-usb-" + node) / "1-1";
}

bool WriteLine(const fs::path &path, const std::string &text) {
    std::ofstream out(path);
    out << text << "\n";
    return static_cast<bool>(out);
}

}  // namespace

bool AddUsbSerialEntry(const std::string &root, const std::string &node_path,
                       const std::string &serial, const std::string &maker,
                       const std::string &product) {
    const std::string node = NodeName(node_path);
    if (node.empty()) return false;
    RemoveUsbSerialEntry(root, node_path);
    const fs::path device = DeviceFolder(root, node);
    const fs::path interface = device / "1-1:1.0";
    const fs::path tty = fs::path(root) / "class" / "tty" / node;
    std::error_code error;
    fs::create_directories(interface, error);
    if (error) return false;
    fs::create_directories(tty, error);
    if (error) return false;
    if (!WriteLine(device / "idVendor", kEmulatedUsbVendorId)) return false;
    if (!WriteLine(device / "idProduct", kEmulatedUsbProductId)) return false;
    if (!maker.empty() && !WriteLine(device / "manufacturer", maker)) return false;
    if (!product.empty() && !WriteLine(device / "product", product)) return false;
    const fs::path driver = fs::path(root) / "bus" / "usb-serial" / "drivers" / kEmulatedUsbDriver;
    fs::create_directories(driver, error);
    if (error) return false;
    fs::create_directory_symlink(driver, interface / "driver", error);
    if (error) return false;
    if (!serial.empty() && !WriteLine(device / "serial", serial)) return false;
    fs::create_directory_symlink(interface, tty / "device", error);
    return !error;
}

void RemoveUsbSerialEntry(const std::string &root, const std::string &node_path) {
    const std::string node = NodeName(node_path);
    if (node.empty()) return;
    std::error_code ignored;
    fs::remove_all(fs::path(root) / "class" / "tty" / node, ignored);
    fs::remove_all(DeviceFolder(root, node).parent_path(), ignored);
}

}  // namespace tornelvox::emulator
