#include "firmware/address_backup.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <nlohmann/json.hpp>
#include <optional>

#include "firmware/state_folder.h"
#include "serial/outside_text.h"

namespace tornelvox {

namespace {

constexpr char kFileName[] = "bt-address-backup.jsonl";
constexpr off_t kLongestRead = 1 << 20;

std::string SystemError(const char *what, const std::string &path) {
    char reason[128];
    return std::string(what) + " " + path + ": " + strerror_r(errno, reason, sizeof reason);
}

bool WriteWhole(int fd, const std::string &text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Whether the file fd, open for appending, is empty or ends with a line end.
bool EndsWithLineEnd(int fd) {
    struct stat info {};
    if (fstat(fd, &info) != 0 || info.st_size == 0) return true;
    char last = '\n';
    return pread(fd, &last, 1, info.st_size - 1) != 1 || last == '\n';
}

}  // namespace

std::optional<BtAddress> ParseBtAddress(std::string_view text) {
    constexpr std::size_t kLength = 6 * 3 - 1;
    if (text.size() != kLength) return std::nullopt;
    BtAddress address{};
    for (std::size_t pair = 0; pair < address.size(); ++pair) {
        const std::size_t at = pair * 3;
        if (pair > 0 && text[at - 1] != ':') return std::nullopt;
        unsigned value = 0;
        for (std::size_t k = 0; k < 2; ++k) {
            const char c = text[at + k];
            const int digit = c >= '0' && c <= '9'   ? c - '0'
                              : c >= 'A' && c <= 'F' ? c - 'A' + 10
                              : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                     : -1;
            if (digit < 0) return std::nullopt;
            value = value * 16 + static_cast<unsigned>(digit);
        }
        // The first pair printed is the most significant byte, the name page's byte 5.
        address[address.size() - 1 - pair] = static_cast<unsigned char>(value);
    }
    return address;
}

namespace {

// Longest device description kept from a record: a maker's, a product's and a serial number's
// strings, each cut at kLongestDeviceText, with the words between them.
constexpr std::size_t kLongestDeviceDescription = 3 * kLongestDeviceText + 16;

std::string StringField(const nlohmann::json &object, const char *key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

}  // namespace

std::string FormatBtAddress(const BtAddress &address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[5], address[4],
                  address[3], address[2], address[1], address[0]);
    return text;
}

std::string AddressBackupFolder(const std::string &subfolder) {
    std::string folder = StateFolder();
    if (!folder.empty() && !subfolder.empty()) folder += "/" + subfolder;
    return folder;
}

std::string AddressBackupPath(const std::string &subfolder) {
    const std::string folder = AddressBackupFolder(subfolder);
    return folder.empty() ? "" : folder + "/" + kFileName;
}

std::string UtcTimestamp() {
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

bool AppendAddressRecord(const std::string &subfolder, const AddressRecord &record,
                         std::string &error) {
    const std::string folder = AddressBackupFolder(subfolder);
    if (folder.empty()) {
        error = "no home folder is known for this user";
        return false;
    }
    const int folder_fd = OpenPrivateFolder(folder, MissingFolders::kMake, error);
    if (folder_fd < 0) return false;

    const nlohmann::json line = {{"time", record.time},
                                 {"address", FormatBtAddress(record.address)},
                                 {"name", record.name},
                                 {"port", record.port},
                                 {"usb_serial", record.usb_serial},
                                 {"source", record.source},
                                 {"device", record.device}};
    // Bytes that are not UTF-8 (a port name, a name read from the adapter) are replaced, never
    // thrown over.
    std::string text = line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    const std::string path = folder + "/" + kFileName;
    std::string why;
    const int fd = OpenPrivateFile(folder_fd, kFileName, FileUse::kAppend, why);
    if (fd < 0) {
        error = "cannot write " + path + ": " + why;
        close(folder_fd);
        return false;
    }
    // A write torn in the middle of a line (the disk full, a crash) left the file without its
    // last line end: the record starts on a line of its own all the same, or it could never be
    // read back.
    if (!EndsWithLineEnd(fd)) text.insert(0, "\n");
    const bool written = WriteWhole(fd, text) && fsync(fd) == 0;
    if (!written) error = SystemError("cannot write", path);
    close(fd);
    // The folder too, so that a file made just now survives a power loss.
    if (written) fsync(folder_fd);
    close(folder_fd);
    return written;
}

std::vector<AddressRecord> ReadAddressRecords(const std::string &subfolder, std::size_t limit) {
    std::vector<AddressRecord> records;
    const std::string path = AddressBackupPath(subfolder);
    if (path.empty() || limit == 0) return records;
    std::string ignored;
    const int folder_fd =
        OpenPrivateFolder(AddressBackupFolder(subfolder), MissingFolders::kFail, ignored);
    if (folder_fd < 0) return records;
    const int fd = OpenPrivateFile(folder_fd, kFileName, FileUse::kRead, ignored);
    close(folder_fd);
    if (fd < 0) return records;
    struct stat info {};
    std::string text;
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        const off_t start = std::max<off_t>(0, info.st_size - kLongestRead);
        text.resize(static_cast<std::size_t>(info.st_size - start));
        std::size_t done = 0;
        while (done < text.size()) {
            const ssize_t n =
                pread(fd, text.data() + done, text.size() - done, start + static_cast<off_t>(done));
            if (n <= 0) break;
            done += static_cast<std::size_t>(n);
        }
        text.resize(done);
        // A read that began inside a line starts at the next whole one.
        if (start > 0) text.erase(0, std::min(text.size(), text.find('\n') + 1));
    }
    close(fd);

    std::size_t end = text.size();
    while (end > 0 && records.size() < limit) {
        const std::size_t line_start = text.rfind('\n', end - 1);
        const std::size_t from = line_start == std::string::npos ? 0 : line_start + 1;
        const std::string line = text.substr(from, end - from);
        end = from == 0 ? 0 : from - 1;
        const nlohmann::json object = nlohmann::json::parse(line, nullptr, false);
        if (!object.is_object()) continue;
        AddressRecord record;
        const std::optional<BtAddress> address = ParseBtAddress(StringField(object, "address"));
        if (!address) continue;
        record.address = *address;
        record.time = StringField(object, "time");
        record.name = StringField(object, "name");
        record.port = StringField(object, "port");
        record.usb_serial = StringField(object, "usb_serial");
        record.source = StringField(object, "source");
        // Shown to the user as it is: the file is theirs to edit, so it is made printable.
        record.device =
            PrintableText(StringField(object, "device").substr(0, kLongestDeviceDescription));
        records.push_back(std::move(record));
    }
    return records;
}

std::string UsbSerialNumber(const std::string &sysfs_root, const std::string &port) {
    return IdentifyNode(sysfs_root, port).serial;
}

}  // namespace tornelvox
