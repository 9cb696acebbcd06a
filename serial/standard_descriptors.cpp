#include "serial/standard_descriptors.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tornelvox {

namespace {

constexpr char kNullDevice[] = "/dev/null";

}  // namespace

bool EnsureStandardDescriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // Inherited by the programs this one starts, as a standard descriptor is.
        const int opened = open(kNullDevice, fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
        if (opened < 0) return false;
        // The lower ones are open, so the system gives fd itself; should it not, put it there.
        if (opened != fd) {
            const bool placed = dup2(opened, fd) == fd;
            close(opened);
            if (!placed) return false;
        }
    }
    return true;
}

int MoveAboveStandardDescriptors(int fd) {
    if (fd > STDERR_FILENO) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    const int error = errno;
    close(fd);
    errno = error;
    return moved;
}

}  // namespace tornelvox
