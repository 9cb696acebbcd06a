#include "serial/terminal_node.h"

#include <fcntl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "serial/standard_descriptors.h"

namespace tornelvox {

namespace {

// Both tables are a few hundred bytes on any machine; these limits only stop a runaway read.
constexpr std::size_t kMostTableBytes = std::size_t{64} * 1024;
constexpr std::size_t kMostTableLines = 1024;
constexpr std::size_t kMostWords = 8;
constexpr std::size_t kMostDriverNameLength = 32;
// Linux device numbers: 12 bits of major, 20 of minor.
constexpr unsigned kMostMajor = (1U << 12) - 1;
constexpr unsigned kMostMinor = (1U << 20) - 1;

constexpr char kCharacterSection[] = "Character devices:";
constexpr char kBlockSection[] = "Block devices:";

std::string ErrorText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

// The text of a kernel table, up to kMostTableBytes; error is set (and the text empty) when it
// cannot be read.
std::string ReadTable(const char *path, int &error) {
    error = 0;
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = errno;
        return {};
    }
    std::string text(kMostTableBytes, '\0');
    std::size_t filled = 0;
    while (filled < text.size()) {
        const ssize_t got = read(fd, text.data() + filled, text.size() - filled);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            error = errno;
            filled = 0;
            break;
        }
        if (got == 0) break;
        filled += static_cast<std::size_t>(got);
    }
    close(fd);
    text.resize(filled);
    return text;
}

// Calls visit(line) for each line of text (the last may lack its end), at most kMostTableLines.
template <typename Visit>
void ForEachLine(std::string_view text, Visit visit) {
    for (std::size_t lines = 0; !text.empty() && lines < kMostTableLines; ++lines) {
        const std::size_t end = text.find('\n');
        visit(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

// The words of a line, separated by spaces or tabs; at most kMostWords.
std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    std::size_t start = 0;
    while (words.size() < kMostWords) {
        start = line.find_first_not_of(" \t", start);
        if (start == std::string_view::npos) break;
        const std::size_t end = line.find_first_of(" \t", start);
        words.push_back(line.substr(start, end == std::string_view::npos ? end : end - start));
        if (end == std::string_view::npos) break;
        start = end;
    }
    return words;
}

// A decimal number making up the whole word, no greater than most.
bool ParseNumber(std::string_view word, unsigned most, unsigned &value) {
    if (word.empty()) return false;
    const char *end = word.data() + word.size();
    const auto [stop, error] = std::from_chars(word.data(), end, value);
    return error == std::errc() && stop == end && value <= most;
}

// A name the kernel gives a driver, fit for the log: printable ASCII without spaces, and short.
bool IsPlainName(std::string_view name) {
    if (name.empty() || name.size() > kMostDriverNameLength) return false;
    for (const char c : name) {
        if (c <= ' ' || c > '~') return false;
    }
    return true;
}

// The driver the majors' table names for a character or block device's major; empty if none.
std::string MajorName(std::string_view table, bool block, unsigned major) {
    std::string_view section;
    std::string name;
    ForEachLine(table, [&](std::string_view line) {
        if (!name.empty()) return;
        if (line == kCharacterSection || line == kBlockSection) {
            section = line;
            return;
        }
        if (section != (block ? kBlockSection : kCharacterSection)) return;
        const std::vector<std::string_view> words = Words(line);
        unsigned number = 0;
        if (words.size() == 2 && ParseNumber(words[0], kMostMajor, number) && number == major &&
            IsPlainName(words[1])) {
            name = std::string(words[1]);
        }
    });
    return name;
}

std::string DeviceNumberText(const struct stat &node, const DeviceTables &tables, bool block) {
    const unsigned major_number = major(node.st_rdev);
    const unsigned minor_number = minor(node.st_rdev);
    std::string text = std::to_string(major_number) + ":" + std::to_string(minor_number);
    const std::string driver = MajorName(tables.device_majors, block, major_number);
    if (!driver.empty()) text += " (" + driver + ")";
    return text;
}

}  // namespace

DeviceTables ReadDeviceTables() {
    DeviceTables tables;
    tables.terminal_drivers = ReadTable(kTerminalDriversFile, tables.terminal_drivers_error);
    int majors_error = 0;
    tables.device_majors = ReadTable(kDeviceMajorsFile, majors_error);
    return tables;
}

std::vector<TerminalDriver> ParseTerminalDrivers(std::string_view table) {
    std::vector<TerminalDriver> drivers;
    ForEachLine(table, [&drivers](std::string_view line) {
        const std::vector<std::string_view> words = Words(line);
        if (words.size() < 4) return;
        TerminalDriver driver;
        if (!ParseNumber(words[2], kMostMajor, driver.major)) return;
        const std::string_view minors = words[3];
        const std::size_t dash = minors.find('-');
        if (!ParseNumber(minors.substr(0, dash), kMostMinor, driver.first_minor)) return;
        driver.last_minor = driver.first_minor;
        if (dash != std::string_view::npos &&
            !ParseNumber(minors.substr(dash + 1), kMostMinor, driver.last_minor)) {
            return;
        }
        if (driver.last_minor < driver.first_minor) return;
        driver.name = std::string(words[0].substr(0, kMostDriverNameLength));
        drivers.push_back(std::move(driver));
    });
    return drivers;
}

NodeVerdict JudgeNode(const struct stat &node, const DeviceTables &tables) {
    NodeVerdict verdict;
    if (S_ISREG(node.st_mode)) {
        verdict.what = "is a regular file";
    } else if (S_ISDIR(node.st_mode)) {
        verdict.what = "is a directory";
    } else if (S_ISFIFO(node.st_mode)) {
        verdict.what = "is a named pipe";
    } else if (S_ISSOCK(node.st_mode)) {
        verdict.what = "is a socket";
    } else if (S_ISBLK(node.st_mode)) {
        verdict.what = "is a block device " + DeviceNumberText(node, tables, true);
    } else if (S_ISCHR(node.st_mode)) {
        const std::vector<TerminalDriver> drivers =
            tables.terminal_drivers_error == 0 ? ParseTerminalDrivers(tables.terminal_drivers)
                                               : std::vector<TerminalDriver>{};
        const unsigned major_number = major(node.st_rdev);
        const unsigned minor_number = minor(node.st_rdev);
        for (const TerminalDriver &driver : drivers) {
            if (driver.major == major_number && driver.first_minor <= minor_number &&
                minor_number <= driver.last_minor) {
                verdict.terminal = true;
                verdict.what = "is a terminal (" + driver.name + ")";
                return verdict;
            }
        }
        verdict.undecided = drivers.empty();
        verdict.what =
            "is a character device " + DeviceNumberText(node, tables, false) + ", not a terminal";
    } else {
        verdict.what = "is not a device node";
    }
    return verdict;
}

int OpenTerminalNode(const char *path, int flags, const DeviceTables &tables) {
    const int node = open(path, O_PATH | O_CLOEXEC);
    if (node < 0) return -1;
    struct stat found {};
    if (fstat(node, &found) != 0) {
        const int error = errno;
        close(node);
        errno = error;
        return -1;
    }
    if (!JudgeNode(found, tables).terminal) {
        close(node);
        errno = ENOTTY;
        return -1;
    }
    // The descriptor's own entry names the node it was opened on, whatever has since become of
    // the path (a link pointed elsewhere, another node put in its place).
    char reopen_path[32];
    std::snprintf(reopen_path, sizeof reopen_path, "/proc/self/fd/%d", node);
    const int fd = open(reopen_path, flags);
    const int error = errno;
    close(node);
    if (fd < 0) {
        errno = error;
        return -1;
    }
    return MoveAboveStandardDescriptors(fd);
}

std::string ExplainNotATerminal(const std::string &path, const DeviceTables &tables) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) {
        return "\t   Cannot open " + path + ": " + ErrorText(errno) + "\n";
    }
    const NodeVerdict verdict = JudgeNode(node, tables);
    if (verdict.undecided) {
        const std::string why =
            tables.terminal_drivers_error != 0
                ? "cannot be read (" + ErrorText(tables.terminal_drivers_error) + ")"
                : "lists no terminal driver";
        return "\t   Cannot tell whether " + path + " is a serial port: the kernel's list of " +
               "terminal drivers (" + kTerminalDriversFile + ") " + why + ". It was not opened.\n";
    }
    if (verdict.terminal) {
        // Judged otherwise when it was to be opened: the node changed in between.
        return "\t   Not a serial port: " + path + " was not a terminal when it was opened. " +
               "Search again.\n";
    }
    return "\t   Not a serial port: " + path + " " + verdict.what + ". It was not opened.\n";
}

}  // namespace tornelvox
