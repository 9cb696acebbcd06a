#include "serial/node_watch.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace tornelvox {
namespace {

// What changes a folder's list of nodes: entries made, removed or renamed, and the folder itself
// going away.
constexpr std::uint32_t kFolderEvents = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                        IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
// What a folder above a missing one is watched for: the next folder on the way appearing, and
// the folder watched going away.
constexpr std::uint32_t kAboveEvents =
    IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;

// Reads of the descriptor per TakeChanges: the rest of a long burst waits for the next call,
// so that one call never holds its caller for long.
constexpr int kMostReadsPerTake = 64;

bool IsFolder(const std::string &path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

NodeWatch::NodeWatch() = default;

NodeWatch::~NodeWatch() {
    if (fd_ >= 0) close(fd_);
}

bool NodeWatch::Watch(const std::vector<std::string> &folders) {
    if (fd_ >= 0) close(fd_);
    entries_.clear();
    fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (fd_ < 0) return false;
    for (const std::string &folder : folders) {
        if (folder.empty()) continue;
        std::error_code error;
        std::filesystem::path absolute = std::filesystem::absolute(folder, error);
        if (error) continue;
        absolute = absolute.lexically_normal();
        std::string text = absolute.string();
        // "/dev/" and "/dev" are one folder.
        while (text.size() > 1 && text.back() == '/') text.pop_back();
        Entry entry;
        entry.folder = text;
        entries_.push_back(std::move(entry));
    }
    Rearm();
    return true;
}

void NodeWatch::Unwatch(int wd) {
    if (wd < 0) return;
    const bool shared = std::any_of(entries_.begin(), entries_.end(),
                                    [wd](const Entry &entry) { return entry.wd == wd; });
    if (!shared) inotify_rm_watch(fd_, wd);
}

bool NodeWatch::Rearm() {
    bool moved = false;
    for (Entry &entry : entries_) {
        std::filesystem::path wanted(entry.folder);
        std::string next;
        while (!IsFolder(wanted.string()) && wanted.has_parent_path() &&
               wanted.parent_path() != wanted) {
            next = wanted.filename().string();
            wanted = wanted.parent_path();
        }
        const std::string watched = wanted.string();
        if (watched == entry.watched && entry.wd >= 0) continue;
        const int old_wd = entry.wd;
        const std::uint32_t events = watched == entry.folder ? kFolderEvents : kAboveEvents;
        entry.wd = inotify_add_watch(fd_, watched.c_str(), events | IN_MASK_ADD);
        // A folder that cannot be watched (no permission, no watches left) is tried again at
        // the next change, but is no change by itself.
        if (entry.wd >= 0 || watched != entry.watched) moved = true;
        entry.watched = watched;
        entry.next = watched == entry.folder ? "" : next;
        if (old_wd != entry.wd) Unwatch(old_wd);
    }
    return moved;
}

bool NodeWatch::TakeChanges(std::vector<std::string> *gone) {
    if (fd_ < 0) return false;
    bool changed = false;
    bool rearm = std::any_of(entries_.begin(), entries_.end(),
                             [](const Entry &entry) { return entry.wd < 0; });
    alignas(inotify_event) char buffer[4096];
    for (int read_count = 0; read_count < kMostReadsPerTake; ++read_count) {
        const ssize_t got = read(fd_, buffer, sizeof buffer);
        if (got <= 0) break;  // nothing more waits (EAGAIN), or the read was interrupted
        const std::size_t size = static_cast<std::size_t>(got);
        std::size_t at = 0;
        while (size - at >= sizeof(inotify_event)) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->len > size - at - sizeof(inotify_event)) break;
            at += sizeof(inotify_event) + event->len;
            if ((event->mask & IN_Q_OVERFLOW) != 0) {
                // Events were lost: whatever they said, the folders are to be listed again.
                changed = true;
                rearm = true;
                continue;
            }
            // The name is padded with NULs inside len.
            const std::string name =
                event->len == 0 ? std::string()
                                : std::string(event->name, strnlen(event->name, event->len));
            for (Entry &entry : entries_) {
                if (entry.wd != event->wd) continue;
                if ((event->mask & IN_IGNORED) != 0) {
                    entry.wd = -1;  // the folder watched went away
                    changed = rearm = true;
                } else if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
                    changed = rearm = true;
                    // A folder renamed keeps its watch under its new name: drop it.
                    if ((event->mask & IN_MOVE_SELF) != 0) entry.wd = -1;
                } else if (entry.next.empty() || name == entry.next) {
                    // An entry of the folder itself, or the next folder on the way to it.
                    changed = true;
                    if (!entry.next.empty()) rearm = true;
                    if (entry.next.empty() && gone != nullptr && !name.empty() &&
                        (event->mask & (IN_DELETE | IN_MOVED_FROM)) != 0 &&
                        gone->size() < kMostGonePerTake) {
                        gone->push_back(entry.folder + "/" + name);
                    }
                }
            }
            if ((event->mask & IN_MOVE_SELF) != 0) Unwatch(event->wd);
        }
    }
    if (rearm) changed = Rearm() || changed;
    return changed;
}

bool NodeWatch::WaitForChange(std::chrono::milliseconds timeout) {
    if (fd_ < 0) return false;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() < 0) return false;
        pollfd readable{.fd = fd_, .events = POLLIN, .revents = 0};
        const int ready = poll(&readable, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR) return false;
        if (ready > 0 && TakeChanges()) return true;
    }
}

}  // namespace tornelvox
