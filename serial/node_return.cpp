#include "serial/node_return.h"

#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <filesystem>

namespace tornelvox {

namespace {

// Without inotify: how often the path is looked at.
constexpr std::chrono::milliseconds kLookAgain{100};

// An inotify descriptor watching the folder path is in for names arriving; -1 when there is none.
class FolderWatch {
  public:
    explicit FolderWatch(const std::string &path) {
        fd_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (fd_ < 0) return;
        std::string folder = std::filesystem::path(path).parent_path().string();
        if (folder.empty()) folder = ".";
        if (inotify_add_watch(fd_, folder.c_str(),
                              IN_CREATE | IN_MOVED_TO | IN_ATTRIB | IN_DELETE_SELF) < 0) {
            close(fd_);
            fd_ = -1;
        }
    }
    ~FolderWatch() {
        if (fd_ >= 0) close(fd_);
    }
    FolderWatch(const FolderWatch &) = delete;
    FolderWatch &operator=(const FolderWatch &) = delete;

    int Fd() const { return fd_; }

    // Reads the events waiting; which name they concern is looked up on the path itself.
    void Drain() const {
        alignas(inotify_event) std::array<char, 4096> events;
        for (;;) {
            const ssize_t n = read(fd_, events.data(), events.size());
            if (n > 0) continue;
            if (n < 0 && errno == EINTR) continue;
            return;
        }
    }

  private:
    int fd_ = -1;
};

}  // namespace

bool NodePresent(const std::string &path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0;
}

NodeReturn WaitForNodeReturn(const std::string &path, int stop_fd,
                             std::chrono::milliseconds limit) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point end = Clock::now() + limit;
    // Watched before the first look, so that a node arriving between the two is not missed.
    const FolderWatch watch(path);
    for (;;) {
        if (NodePresent(path)) return NodeReturn::kBack;
        const Clock::time_point now = Clock::now();
        if (now >= end) return NodeReturn::kNotBack;
        auto wait = std::chrono::ceil<std::chrono::milliseconds>(end - now);
        if (watch.Fd() < 0) wait = std::min(wait, kLookAgain);
        std::array<pollfd, 2> fds{};
        nfds_t count = 0;
        if (stop_fd >= 0) fds[count++] = {stop_fd, POLLIN, 0};
        const nfds_t watch_index = count;
        if (watch.Fd() >= 0) fds[count++] = {watch.Fd(), POLLIN, 0};
        const int ready = poll(fds.data(), count, static_cast<int>(wait.count()));
        if (ready < 0 && errno != EINTR) return NodeReturn::kNotBack;
        if (ready <= 0) continue;
        if (stop_fd >= 0 && fds[0].revents != 0) return NodeReturn::kStopped;
        if (watch_index < count && fds[watch_index].revents != 0) watch.Drain();
    }
}

}  // namespace tornelvox
