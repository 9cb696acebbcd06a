#include "firmware/address_backup.h"

#include <fcntl.h>
#include <pwd.h>
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

namespace tornelvox {

std::string SysfsRoot = kDefaultSysfsRoot;
std::string AddressBackupSubfolder;

namespace {

constexpr char kFolderName[] = "tornelvox-utility";
constexpr char kFileName[] = "bt-address-backup.jsonl";
constexpr off_t kLongestRead = 1 << 20;
constexpr std::size_t kLongestSerial = 128;
constexpr int kUsbLevels = 4;  // from a tty's device up to the USB device that holds its serial

std::string SystemError(const char *what, const std::string &path) {
    char reason[128];
    return std::string(what) + " " + path + ": " + strerror_r(errno, reason, sizeof reason);
}

std::string HomeFolder() {
    // The environment is only read while the program runs.
    const char *home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
    if (home != nullptr && home[0] == '/') return home;
    const passwd *user = getpwuid(getuid());  // NOLINT(concurrency-mt-unsafe): read once, copied
    return user != nullptr && user->pw_dir != nullptr ? user->pw_dir : "";
}

// Makes every missing folder of path, the last with mode 0700.
bool MakeFolders(const std::string &path, std::string &error) {
    for (std::size_t at = 1; at <= path.size(); ++at) {
        if (at != path.size() && path[at] != '/') continue;
        const std::string part = path.substr(0, at);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            error = SystemError("cannot make the folder", part);
            return false;
        }
    }
    struct stat info {};
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        errno = ENOTDIR;
        error = SystemError("cannot use the folder", path);
        return false;
    }
    return true;
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

std::string StringField(const nlohmann::json &object, const char *key) {
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : "";
}

// The first line of a small text file, without its line end; empty when there is none.
std::string FirstLine(const std::string &path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    char text[kLongestSerial + 1] = {};
    const ssize_t n = read(fd, text, kLongestSerial);
    close(fd);
    if (n <= 0) return "";
    std::string line(text, static_cast<std::size_t>(n));
    line.erase(
        std::find_if(line.begin(), line.end(), [](char c) { return c == '\n' || c == '\r'; }),
        line.end());
    return line;
}

bool Exists(const std::string &path) {
    return access(path.c_str(), F_OK) == 0;
}

}  // namespace

std::string FormatBtAddress(const BtAddress &address) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", address[5], address[4],
                  address[3], address[2], address[1], address[0]);
    return text;
}

std::string AddressBackupFolder() {
    std::string folder;
    const char *state = std::getenv("XDG_STATE_HOME");  // NOLINT(concurrency-mt-unsafe)
    if (state != nullptr && state[0] == '/') {
        folder = std::string(state) + "/" + kFolderName;
    } else {
        const std::string home = HomeFolder();
        if (home.empty()) return "";
        folder = home + "/.local/state/" + kFolderName;
    }
    if (!AddressBackupSubfolder.empty()) folder += "/" + AddressBackupSubfolder;
    return folder;
}

std::string AddressBackupPath() {
    const std::string folder = AddressBackupFolder();
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

bool AppendAddressRecord(const AddressRecord &record, std::string &error) {
    const std::string folder = AddressBackupFolder();
    if (folder.empty()) {
        error = "no home folder is known for this user";
        return false;
    }
    if (!MakeFolders(folder, error)) return false;

    const nlohmann::json line = {{"time", record.time},
                                 {"address", FormatBtAddress(record.address)},
                                 {"name", record.name},
                                 {"port", record.port},
                                 {"usb_serial", record.usb_serial},
                                 {"source", record.source}};
    // Bytes that are not UTF-8 (a port name, a name read from the adapter) are replaced, never
    // thrown over.
    const std::string text =
        line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    const std::string path = folder + "/" + kFileName;
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = SystemError("cannot open", path);
        return false;
    }
    const bool written = WriteWhole(fd, text) && fsync(fd) == 0;
    if (!written) error = SystemError("cannot write", path);
    close(fd);
    if (!written) return false;
    // The folder too, so that a file made just now survives a power loss.
    const int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        fsync(folder_fd);
        close(folder_fd);
    }
    return true;
}

std::vector<AddressRecord> ReadAddressRecords(std::size_t limit) {
    std::vector<AddressRecord> records;
    const std::string path = AddressBackupPath();
    if (path.empty() || limit == 0) return records;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
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
        records.push_back(std::move(record));
    }
    return records;
}

std::string UsbSerialNumber(const std::string &port) {
    char resolved[PATH_MAX];
    if (realpath(port.c_str(), resolved) == nullptr) return "";
    const char *node = std::strrchr(resolved, '/');
    if (node == nullptr || node[1] == '\0') return "";
    const std::string device_link = SysfsRoot + "/class/tty/" + (node + 1) + "/device";
    char device[PATH_MAX];
    if (realpath(device_link.c_str(), device) == nullptr) return "";
    std::string folder = device;
    for (int level = 0; level <= kUsbLevels && folder.size() > SysfsRoot.size(); ++level) {
        if (Exists(folder + "/idVendor") && Exists(folder + "/serial")) {
            return FirstLine(folder + "/serial");
        }
        const std::size_t slash = folder.rfind('/');
        if (slash == std::string::npos || slash == 0) break;
        folder.erase(slash);
    }
    return "";
}

}  // namespace tornelvox
