// Notice of device nodes coming and going in the folders a search lists, without opening any of
// them: an inotify watch on each folder, so that a front end lists the folders again when
// something in them changed. A folder that does not exist yet (the demo mode's runtime folder
// before its first run) is watched through the nearest folder above it that exists, and watched
// itself once it appears; a folder that is removed goes back to that.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tornelvox {

// Most paths one TakeChanges adds to its gone list.
inline constexpr std::size_t kMostGonePerTake = 256;

class NodeWatch {
  public:
    NodeWatch();
    // Closes the descriptor.
    ~NodeWatch();
    NodeWatch(const NodeWatch &) = delete;
    NodeWatch &operator=(const NodeWatch &) = delete;

    // Watches folders (empty entries are skipped) instead of what was watched before. False when
    // inotify is not to be had; then Descriptor() is -1 and nothing is ever reported.
    bool Watch(const std::vector<std::string> &folders);

    // A descriptor that becomes readable when something changed, for a front end's event loop
    // (poll, a socket notifier). Non-blocking; -1 when there is none. Reading it is
    // TakeChanges's business.
    int Descriptor() const { return fd_; }

    // Reads the events waiting, without blocking, and follows folders that appeared or went.
    // True when any of them may have changed what the watched folders hold. With gone, the paths
    // of entries removed from (or renamed out of) a watched folder are added to it, at most
    // kMostGonePerTake of them: a node that went and came back between two listings was
    // unplugged all the same.
    bool TakeChanges(std::vector<std::string> *gone = nullptr);

    // Waits up to timeout for a change (poll with a limit), for front ends without an event loop
    // of their own. True when something changed.
    bool WaitForChange(std::chrono::milliseconds timeout);

  private:
    struct Entry {
        std::string folder;   // the folder asked for
        std::string watched;  // the folder that is watched for it: itself or a folder above it
        std::string next;     // watched is above folder: the name in it that leads to folder
        int wd = -1;
    };
    // Watches each entry's folder, or the nearest folder above it that exists. True when an
    // entry's watch moved (a folder appeared or went).
    bool Rearm();
    void Unwatch(int wd);

    int fd_ = -1;
    std::vector<Entry> entries_;
};

}  // namespace tornelvox
