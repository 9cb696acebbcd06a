#include "ui/demo_mode.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

#include "serial/serial_port.h"
#include "ui/runtime_folder.h"

namespace tornelvox {

namespace {

// More demos than anyone runs at once.
constexpr int kMostDemos = 16;

// What the process's end removes: the running demo's link, its lock and its folder. Written
// only on the interface thread, read by the exit handler once the process ends.
struct LeftAtExit {
    std::mutex mutex;
    std::string link;
    std::string lock;
    std::string folder;
};

LeftAtExit &AtExit() {
    static auto *left = new LeftAtExit;  // never destroyed: the exit handler runs after statics
    return *left;
}

void RemoveLeftEntries() {
    LeftAtExit &left = AtExit();
    std::lock_guard lock(left.mutex);
    if (!left.link.empty()) unlink(left.link.c_str());
    if (!left.lock.empty()) unlink(left.lock.c_str());
    if (!left.folder.empty()) rmdir(left.folder.c_str());
    left.link.clear();
    left.lock.clear();
    left.folder.clear();
}

void RemoveAtExit(const std::string &link, const std::string &lock, const std::string &folder) {
    static std::once_flag registered;
    std::call_once(registered, [] {
        std::at_quick_exit(RemoveLeftEntries);
        std::atexit(RemoveLeftEntries);
    });
    LeftAtExit &left = AtExit();
    std::lock_guard guard(left.mutex);
    left.link = link;
    left.lock = lock;
    left.folder = folder;
}

std::string NodeName(int slot) {
    return slot == 1 ? kDemoNodeName : std::string(kDemoNodeName) + "-" + std::to_string(slot);
}

// The lock of one node name, held for as long as a demo uses that name; -1 when another demo
// holds it. Its name starts with a dot: the search never takes it for a node.
int TakeLock(const std::string &path) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (fd < 0) return -1;
        if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
            close(fd);
            return -1;
        }
        // A demo that was ending may have removed the file between the open and the lock.
        struct stat held {};
        struct stat named {};
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
        close(fd);
    }
    return -1;
}

}  // namespace

DemoMode::DemoMode() = default;

DemoMode::~DemoMode() {
    Stop();
}

bool DemoMode::Start(std::shared_ptr<AdapterSession> session, const DemoOptions &options,
                     std::string &error) {
    Stop();
    folder_ = MakeRuntimeFolder(error);
    if (folder_.empty()) return false;

    std::string name;
    for (int slot = 1; slot <= kMostDemos && lock_fd_ < 0; ++slot) {
        name = NodeName(slot);
        lock_ = folder_ + "/." + name + ".lock";
        lock_fd_ = TakeLock(lock_);
    }
    if (lock_fd_ < 0) {
        lock_.clear();
        error = "too many emulated adapters run already in " + folder_;
        Stop();
        return false;
    }

    session_ = std::move(session);
    previous_first_directory_ = session_->FirstDeviceDirectory;
    previous_backup_subfolder_ = session_->AddressBackupSubfolder;
    emulator::AdapterConfig config;
    config.version = options.version;
    config.line_baud = options.full_speed ? 0 : kDemoLineBaud;
    adapter_ = std::make_unique<emulator::EmulatedAdapter>(config);
    link_ = folder_ + "/" + name;
    if (link_.size() >= kPortPathSize) {
        // The search passes over a node whose path would not fit the port's name.
        error = "the path " + link_ + " is too long for a port (at most " +
                std::to_string(kPortPathSize - 1) +
                " characters): set XDG_RUNTIME_DIR to a shorter folder";
        Stop();
        return false;
    }
    // Set before the link exists, so that no end of the process leaves it behind.
    RemoveAtExit(link_, lock_, folder_);
    if (!adapter_->Start() || !adapter_->LinkAt(link_)) {
        error = "cannot start the emulated adapter at " + link_;
        Stop();
        return false;
    }

    session_->FirstDeviceDirectory = folder_;
    session_->AddressBackupSubfolder = kDemoBackupSubfolder;
    return true;
}

void DemoMode::Stop() {
    if (adapter_) {
        adapter_->Stop();  // removes its link
        adapter_.reset();
        session_->FirstDeviceDirectory = previous_first_directory_;
        session_->AddressBackupSubfolder = previous_backup_subfolder_;
    }
    session_.reset();
    if (!link_.empty()) unlink(link_.c_str());
    if (lock_fd_ >= 0) {
        unlink(lock_.c_str());
        close(lock_fd_);
    }
    if (!folder_.empty()) rmdir(folder_.c_str());  // stays while another demo uses it
    if (!folder_.empty()) RemoveAtExit("", "", "");
    lock_fd_ = -1;
    lock_.clear();
    link_.clear();
    folder_.clear();
}

}  // namespace tornelvox
