#include "serial/port_diagnosis.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <vector>

#include "serial/outside_text.h"
#include "serial/terminal_node.h"

namespace tornelvox {

namespace {

// Limits of the scan for holders: a process table or a descriptor table beyond these is read
// only in part rather than walked for ever.
constexpr int kMaxProcesses = 4096;
constexpr int kMaxProcEntries = 2 * kMaxProcesses;  // numbered folders and everything else
constexpr int kMaxDescriptors = 1024;
constexpr std::size_t kMaxHolders = 4;
// Lookups in the user and group databases start with this buffer and double it a few times
// for groups with long member lists.
constexpr std::size_t kLookupBufferSize = 4096;
constexpr int kLookupAttempts = 8;
constexpr int kMaxGroupMembers = 4096;
constexpr int kMaxGroups = 65536;
constexpr int kMaxProgramPaths = 16;

std::string ErrorText(int error) {
    char buffer[256];
    return strerror_r(error, buffer, sizeof buffer);
}

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

// Runs a reentrant database lookup (getpwuid_r, getgrgid_r) with a buffer that grows while it
// is too small. True when an entry was found; its strings live in buffer.
template <typename Entry, typename Lookup>
bool LookUp(Lookup lookup, Entry &entry, std::vector<char> &buffer) {
    std::size_t size = kLookupBufferSize;
    for (int attempt = 0; attempt < kLookupAttempts; ++attempt, size *= 2) {
        buffer.resize(size);
        Entry *result = nullptr;
        const int status = lookup(&entry, buffer.data(), buffer.size(), &result);
        if (status == ERANGE) continue;
        return status == 0 && result != nullptr;
    }
    return false;
}

struct User {
    std::string name;  // the number when the user has no name
    bool known = false;
    gid_t primary_group = 0;
};

User LookUpUser(uid_t uid) {
    passwd entry{};
    std::vector<char> buffer;
    const bool found = LookUp([uid](passwd *e, char *b, std::size_t n,
                                    passwd **r) { return getpwuid_r(uid, e, b, n, r); },
                              entry, buffer);
    if (!found || entry.pw_name == nullptr) return {std::to_string(uid), false, 0};
    return {entry.pw_name, true, entry.pw_gid};
}

struct Group {
    std::string name;  // the number when the group has no name
    bool lists_user = false;
};

// The group's name, and whether `user` is on its member list.
Group LookUpGroup(gid_t gid, const std::string &user) {
    group entry{};
    std::vector<char> buffer;
    const bool found = LookUp(
        [gid](group *e, char *b, std::size_t n, group **r) { return getgrgid_r(gid, e, b, n, r); },
        entry, buffer);
    if (!found || entry.gr_name == nullptr) return {std::to_string(gid), false};
    Group result{entry.gr_name, false};
    for (int i = 0; entry.gr_mem != nullptr && entry.gr_mem[i] != nullptr && i < kMaxGroupMembers;
         ++i) {
        if (user == entry.gr_mem[i]) {
            result.lists_user = true;
            break;
        }
    }
    return result;
}

// Whether this process runs with gid among its groups.
bool ProcessHasGroup(gid_t gid) {
    if (getegid() == gid) return true;
    const int count = getgroups(0, nullptr);
    if (count <= 0 || count > kMaxGroups) return false;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    const int filled = getgroups(count, groups.data());
    for (int i = 0; i < filled; ++i) {
        if (groups[static_cast<std::size_t>(i)] == gid) return true;
    }
    return false;
}

std::string RefusedAnyway(const std::string &path, const std::string &why) {
    return "\t   Permission denied: " + path + " " + why + ", yet access is refused.\n" +
           "\t   An access control list or a security policy (such as AppArmor, SELinux or an "
           "application sandbox) may block it.\n";
}

std::string ExplainPermission(const std::string &path) {
    struct stat node {};
    if (stat(path.c_str(), &node) != 0) {
        return "\t   Permission denied: " + path + ", and its owner and group cannot be read (" +
               ErrorText(errno) + ").\n";
    }
    const User user = LookUpUser(getuid());
    const Group group = LookUpGroup(node.st_gid, user.name);
    const mode_t read_write_owner = S_IRUSR | S_IWUSR;
    const mode_t read_write_group = S_IRGRP | S_IWGRP;
    const bool owned = node.st_uid == getuid();
    if ((owned && (node.st_mode & read_write_owner) != read_write_owner) ||
        (!owned && (node.st_mode & read_write_group) != read_write_group)) {
        return "\t   Permission denied: " + path + " is not readable and writable for user " +
               user.name + " (owner " + LookUpUser(node.st_uid).name + ", group " + group.name +
               ", mode " + ModeText(node.st_mode) + ").\n";
    }
    if (owned) return RefusedAnyway(path, "is owned by user " + user.name);
    const bool in_database = user.known && (group.lists_user || user.primary_group == node.st_gid);
    return GroupAccessAdvice(path, group.name, user.name, in_database,
                             ProcessHasGroup(node.st_gid));
}

bool IsNumber(const char *name) {
    if (*name == '\0') return false;
    for (const char *c = name; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9') return false;
    }
    return true;
}

// Calls visit(name) for each numbered entry of `folder` (at most max_numbered of them, among at
// most max_entries entries) until visit returns false. Skips a folder that cannot be listed.
template <typename Visit>
void ForEachNumberedEntry(const std::string &folder, int max_entries, int max_numbered,
                          Visit visit) {
    DIR *listing = opendir(folder.c_str());
    if (listing == nullptr) return;
    int entries = 0;
    int numbered = 0;
    // readdir is safe here: the listing is this call's own.
    while (const dirent *entry = readdir(listing)) {  // NOLINT(concurrency-mt-unsafe)
        if (++entries > max_entries) break;
        if (!IsNumber(entry->d_name)) continue;
        if (++numbered > max_numbered) break;
        if (!visit(std::string(entry->d_name))) break;
    }
    closedir(listing);
}

// The command name of a process, from proc_root/<pid>/comm; empty when it cannot be read.
std::string CommandName(const std::string &proc_root, const std::string &pid) {
    const std::string file = proc_root + "/" + pid + "/comm";
    const int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    char text[64];  // the kernel keeps at most 15 characters
    const ssize_t length = read(fd, text, sizeof text);
    close(fd);
    if (length <= 0) return {};
    std::string name(text, static_cast<std::size_t>(length));
    while (!name.empty() && (name.back() == '\n' || name.back() == ' ' || name.back() == '\t')) {
        name.pop_back();
    }
    return name;
}

// Two stat results name the same node when they are the same file, or both character devices
// with the same device number (the same device reached through another device folder).
bool SameNode(const struct stat &a, const struct stat &b) {
    if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
    return S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev;
}

struct Holder {
    std::string pid;
    std::string command;
};

// Processes other than this one with a descriptor open on node, as far as proc_root shows them.
std::vector<Holder> FindHolders(const std::string &proc_root, const struct stat &node) {
    std::vector<Holder> holders;
    const std::string own_pid = std::to_string(getpid());
    ForEachNumberedEntry(proc_root, kMaxProcEntries, kMaxProcesses, [&](const std::string &pid) {
        if (pid == own_pid) return true;
        const std::string descriptors = proc_root + "/" + pid + "/fd";
        bool holds = false;
        ForEachNumberedEntry(descriptors, kMaxDescriptors + 2, kMaxDescriptors,
                             [&](const std::string &fd) {
                                 struct stat target {};
                                 const std::string link = descriptors + "/" + fd;
                                 holds = stat(link.c_str(), &target) == 0 && SameNode(node, target);
                                 return !holds;
                             });
        if (holds) holders.push_back({pid, CommandName(proc_root, pid)});
        return holders.size() < kMaxHolders;
    });
    return holders;
}

constexpr char kModemManager[] = "ModemManager";

bool ModemManagerRuns(const std::string &proc_root) {
    bool runs = false;
    ForEachNumberedEntry(proc_root, kMaxProcEntries, kMaxProcesses, [&](const std::string &pid) {
        runs = CommandName(proc_root, pid) == kModemManager;
        return !runs;
    });
    return runs;
}

std::string ModemManagerAdvice() {
    return "\t   ModemManager is running, and it is known to grab USB serial adapters. Stop it "
           "with: sudo systemctl stop ModemManager\n"
           "\t   or for good with: sudo systemctl disable --now ModemManager\n"
           "\t   then unplug the adapter and plug it in again.\n";
}

std::string ExplainBusy(const std::string &proc_root, const std::string &path) {
    struct stat node {};
    std::vector<Holder> holders;
    if (stat(path.c_str(), &node) == 0) holders = FindHolders(proc_root, node);
    if (holders.empty()) {
        std::string text = "\t   Port busy: " + path +
                           " is in use, but no program that holds it can be seen; "
                           "a system service may hold it.\n";
        if (ModemManagerRuns(proc_root)) text += ModemManagerAdvice();
        return text;
    }
    std::string text = "\t   Port busy: " + path + " is open in another program. Close " +
                       (holders.size() == 1 ? "it" : "them") + " first, then search again.\n";
    bool modem_manager = false;
    for (const Holder &holder : holders) {
        const std::string process = "process " + holder.pid;
        // A process names itself: its name may hold escape sequences or line breaks.
        const std::string name = PrintableText(holder.command);
        text += "\t     held by ";
        if (name.empty()) {
            text += process;
        } else {
            text.append(name).append(" (").append(process).append(")");
        }
        text += "\n";
        modem_manager = modem_manager || holder.command == kModemManager;
    }
    if (modem_manager) text += ModemManagerAdvice();
    return text;
}

}  // namespace

std::string GroupAccessAdvice(const std::string &path, const std::string &group,
                              const std::string &user, bool in_group_database,
                              bool in_process_groups) {
    if (in_process_groups) {
        return RefusedAnyway(path,
                             "belongs to group " + group + ", and this process has that group");
    }
    if (in_group_database) {
        return "\t   Permission denied: " + path + " belongs to group " + group + "; user " + user +
               " is in that group, but this login session does not have it yet.\n" +
               "\t   Log out and log in again (or run: newgrp " + group +
               "), then start the utility again.\n";
    }
    return "\t   Permission denied: " + path + " belongs to group " + group + ", and user " + user +
           " is not in that group.\n" + "\t   Add the user to it with: sudo usermod -aG " + group +
           " " + user + "\n" +
           "\t   then log out and log in again, so that the new group takes effect.\n";
}

std::string ExplainOpenFailure(const LinkSession &link, const std::string &path, int error) {
    if (error == EACCES || error == EPERM) return ExplainPermission(path);
    if (error == EBUSY || error == EWOULDBLOCK || error == EAGAIN)
        return ExplainBusy(link.ProcRoot, path);
    if (error == ENOTTY) return ExplainNotATerminal(path, ReadDeviceTables());
    if (error == ENOENT) {
        return "\t   Not found: " + path +
               " is gone; the adapter was unplugged. Plug it in again, then search again.\n";
    }
    return "\t   Cannot open " + path + ": " + ErrorText(error) + "\n";
}

std::string BrlttyHint(const LinkSession &link) {
    const std::string &paths = link.BrlttyProgramPaths;
    bool installed = false;
    std::size_t start = 0;
    for (int part = 0; part < kMaxProgramPaths && start <= paths.size(); ++part) {
        std::size_t end = paths.find(':', start);
        if (end == std::string::npos) end = paths.size();
        const std::string program = paths.substr(start, end - start);
        struct stat file {};
        if (!program.empty() && stat(program.c_str(), &file) == 0 && S_ISREG(file.st_mode)) {
            installed = true;
            break;
        }
        start = end + 1;
    }
    if (!installed) return {};
    return "\t   brltty is installed; it is known to claim some USB serial adapters, so that no "
           "serial port appears for them.\n"
           "\t   To stop it: sudo systemctl mask brltty-udev.service brltty.service\n"
           "\t   then unplug the adapter and plug it in again.\n"
           "\t   If no braille display is used, removing the brltty package also works.\n";
}

}  // namespace tornelvox
