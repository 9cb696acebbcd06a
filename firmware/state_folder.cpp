#include "firmware/state_folder.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace tornelvox {

namespace {

constexpr char kFolderName[] = "tornelvox-utility";
constexpr mode_t kFolderMode = 0700;
constexpr mode_t kFileMode = 0600;
constexpr std::size_t kPasswordBuffer = 16384;
constexpr char kElsewhere[] = "or set XDG_STATE_HOME to a folder of your own";

std::string SystemReason(int error) {
    char reason[128];
    return strerror_r(error, reason, sizeof reason);
}

// The password database's entry for uid: its home folder when home, else its name. Empty when
// there is no entry.
std::string PasswordField(uid_t uid, bool home) {
    std::vector<char> buffer(kPasswordBuffer);
    passwd entry{};
    passwd *found = nullptr;
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr) {
        return "";
    }
    const char *field = home ? entry.pw_dir : entry.pw_name;
    return field != nullptr ? field : "";
}

std::string UserName(uid_t uid) {
    const std::string name = PasswordField(uid, false);
    return name.empty() ? "uid " + std::to_string(uid) : "user " + name;
}

// A folder or link on the way that the user can trust: only the user and root could have made
// or changed it.
bool Trusted(uid_t owner) {
    return owner == geteuid() || owner == 0;
}

std::string NotYours(const std::string &what, uid_t owner) {
    return what + " belongs to " + UserName(owner) + ", not to you (" + UserName(geteuid()) +
           "): another user may have made it to have your files written where they choose; "
           "remove it (rm -r " +
           what + ") " + kElsewhere;
}

// The folder path split into its names; false when it is not absolute or climbs with "..".
bool SplitPath(const std::string &path, std::vector<std::string> &names) {
    if (path.empty() || path[0] != '/') return false;
    std::size_t at = 0;
    while (at < path.size()) {
        const std::size_t next = path.find('/', at);
        const std::size_t end = next == std::string::npos ? path.size() : next;
        const std::string name = path.substr(at, end - at);
        if (name == "..") return false;
        if (!name.empty() && name != ".") names.push_back(name);
        at = end + 1;
    }
    return true;
}

// Opens the folder name in parent (which is at `at`), making it when missing and allowed, and
// checks it as a folder on the way (last false) or as the private folder itself (last true).
// Returns its descriptor or -1 with the reason in words.
int OpenStep(int parent, const std::string &name, const std::string &at, bool last,
             MissingFolders make, std::string &reason) {
    struct stat entry {};
    bool made = false;
    if (fstatat(parent, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT || make == MissingFolders::kFail) {
            reason = at + ": " + SystemReason(errno);
            return -1;
        }
        if (mkdirat(parent, name.c_str(), kFolderMode) != 0 && errno != EEXIST) {
            reason = at + ": " + SystemReason(errno);
            return -1;
        }
        if (fstatat(parent, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0) {
            reason = at + ": " + SystemReason(errno);
            return -1;
        }
        made = true;
    }
    int flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
    if (S_ISLNK(entry.st_mode)) {
        if (last) {
            reason = at +
                     " is a link, and the program keeps its files only in a real folder of "
                     "your own: remove the link (rm " +
                     at + ") " + kElsewhere;
            return -1;
        }
        if (!Trusted(entry.st_uid)) {
            reason = NotYours(at, entry.st_uid);
            return -1;
        }
    } else {
        flags |= O_NOFOLLOW;
    }
    const int fd = openat(parent, name.c_str(), flags);
    if (fd < 0) {
        reason = errno == ENOTDIR ? at + " is not a folder" : at + ": " + SystemReason(errno);
        return -1;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        reason = at + ": " + SystemReason(errno);
        close(fd);
        return -1;
    }
    const bool owner_allowed = last ? info.st_uid == geteuid() : Trusted(info.st_uid);
    if (!owner_allowed) {
        reason = NotYours(at, info.st_uid);
        close(fd);
        return -1;
    }
    if (!last && (info.st_mode & S_IWOTH) != 0 && (info.st_mode & S_ISVTX) == 0) {
        reason = "every user may write in " + at +
                 ", and it lacks the sticky bit /tmp has: close it to them (chmod o-w " + at +
                 ") " + kElsewhere;
        close(fd);
        return -1;
    }
    // A folder made here gets exactly 0700 whatever the umask; the private folder is closed to
    // others if it was not.
    const bool tighten = last ? (info.st_mode & 07777) != kFolderMode : made;
    if (tighten && fchmod(fd, kFolderMode) != 0) {
        reason = at + ": " + SystemReason(errno);
        close(fd);
        return -1;
    }
    return fd;
}

// Checks the file just opened as fd and readies it for use: empty when it may be used, otherwise
// why not.
std::string CheckedFile(int fd, FileUse use) {
    struct stat info {};
    if (fstat(fd, &info) != 0) return SystemReason(errno);
    if (!S_ISREG(info.st_mode)) return "it is not a plain file: remove it";
    if (info.st_uid != geteuid()) {
        return "it belongs to " + UserName(info.st_uid) + ", not to you: remove it";
    }
    if (info.st_nlink > 1) {
        return "it has other names (hard links) that it would be written through: remove it";
    }
    const bool ready = (use == FileUse::kRead || (info.st_mode & 07777) == kFileMode ||
                        fchmod(fd, kFileMode) == 0) &&
                       (use != FileUse::kReplace || ftruncate(fd, 0) == 0) &&
                       fcntl(fd, F_SETFL, use == FileUse::kAppend ? O_APPEND : 0) == 0;
    return ready ? "" : SystemReason(errno);
}

}  // namespace

std::string HomeFolder() {
    // The environment is only read while the program runs.
    const char *home = std::getenv("HOME");  // NOLINT(concurrency-mt-unsafe)
    if (home != nullptr && home[0] == '/') return home;
    const std::string entry = PasswordField(geteuid(), true);
    return !entry.empty() && entry[0] == '/' ? entry : "";
}

std::string StateFolder() {
    const char *state = std::getenv("XDG_STATE_HOME");  // NOLINT(concurrency-mt-unsafe)
    if (state != nullptr && state[0] == '/') return std::string(state) + "/" + kFolderName;
    const std::string home = HomeFolder();
    return home.empty() ? "" : home + "/.local/state/" + kFolderName;
}

int OpenPrivateFolder(const std::string &path, MissingFolders make, std::string &error) {
    const std::string failure =
        (make == MissingFolders::kMake ? "cannot make the folder " : "cannot use the folder ") +
        path + ": ";
    std::vector<std::string> names;
    if (!SplitPath(path, names) || names.empty()) {
        error = failure + "not an absolute path to a folder";
        return -1;
    }
    int fd = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = failure + SystemReason(errno);
        return -1;
    }
    std::string at;
    for (std::size_t i = 0; i < names.size(); ++i) {
        at += "/" + names[i];
        std::string reason;
        const int next = OpenStep(fd, names[i], at, i + 1 == names.size(), make, reason);
        close(fd);
        if (next < 0) {
            error = failure + reason;
            return -1;
        }
        fd = next;
    }
    return fd;
}

int OpenPrivateFile(int folder_fd, const std::string &name, FileUse use, std::string &error) {
    // Never blocks on a FIFO left in its place; a plain file is all that is kept.
    int flags = O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    switch (use) {
        case FileUse::kRead:
            flags |= O_RDONLY;
            break;
        case FileUse::kAppend:
            flags |= O_RDWR | O_CREAT | O_APPEND;
            break;
        case FileUse::kReplace:
            flags |= O_WRONLY | O_CREAT;
            break;
    }
    const int fd = openat(folder_fd, name.c_str(), flags, kFileMode);
    if (fd < 0) {
        const int reason = errno;
        struct stat entry {};
        if (reason == ELOOP) {
            error = "it is a link, and no file is written through a link: remove it";
        } else if (reason != EISDIR &&
                   fstatat(folder_fd, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) == 0 &&
                   !S_ISREG(entry.st_mode)) {
            error = "it is not a plain file: remove it";
        } else {
            error = SystemReason(reason);
        }
        return -1;
    }
    const std::string refusal = CheckedFile(fd, use);
    if (!refusal.empty()) {
        error = refusal;
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace tornelvox
