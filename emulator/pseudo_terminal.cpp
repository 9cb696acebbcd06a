#include "emulator/pseudo_terminal.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tornelvox::emulator {
namespace {

void CloseDescriptor(int &fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

}  // namespace

bool PseudoTerminal::Open() {
    Close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0) return false;
    char name[128] = {};
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 ||
        ptsname_r(master_, name, sizeof name) != 0) {
        Close();
        return false;
    }
    slave_path_ = name;
    held_slave_ = OpenRawTerminal(slave_path_);
    if (held_slave_ < 0) {
        Close();
        return false;
    }
    return true;
}

void PseudoTerminal::Close() {
    CloseDescriptor(master_);
    CloseDescriptor(held_slave_);
}

bool MakeRaw(int fd) {
    termios attributes{};
    if (tcgetattr(fd, &attributes) != 0) return false;
    cfmakeraw(&attributes);
    return tcsetattr(fd, TCSANOW, &attributes) == 0;
}

int OpenRawTerminal(const std::string &path, int extra_flags) {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | extra_flags);
    if (fd >= 0 && !MakeRaw(fd)) CloseDescriptor(fd);
    return fd;
}

bool LinkTo(const std::string &target, const std::string &link_path) {
    if (target.empty() || link_path.empty()) return false;
    struct stat existing {};
    if (lstat(link_path.c_str(), &existing) == 0) {
        if (!S_ISLNK(existing.st_mode) || unlink(link_path.c_str()) != 0) return false;
    }
    return symlink(target.c_str(), link_path.c_str()) == 0;
}

void RemoveLink(const std::string &link_path) {
    unlink(link_path.c_str());
}

}  // namespace tornelvox::emulator
