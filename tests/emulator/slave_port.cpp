#include "tests/emulator/slave_port.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>

#include "emulator/pseudo_terminal.h"

namespace tornelvox::emulator::testing {

const Bytes kProbe = {0x01, 0xE0, 0xFC, 0x01, 0x00};
const Bytes kHandshake = {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55};
const Bytes kWakeUp = {0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27};
const Bytes kEnterBootLoader = {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x00, 0xC2, 0x01, 0x00, 0x0F};
const Bytes kResetFirst = {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80,
                           0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00};
const Bytes kResetSecond = {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80,
                            0xF4, 0x00, 0x01, 0x00, 0xA5, 0x00};
const Bytes kWriteEnable1 = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x05};
const Bytes kWriteEnable2 = {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x03, 0x00, 0x0D, 0x01, 0x00};
const Bytes kVerify = {0x01, 0xE0, 0xFC, 0x09, 0x10, 0x00, 0x00,
                       0x00, 0x00, 0xFF, 0xCF, 0x07, 0x00};
const Bytes kVersionQuery = {0x2F, 0x76};

SlavePort::SlavePort(const std::string &path) {
    fd_ = OpenRawTerminal(path, O_NONBLOCK);
}

SlavePort::~SlavePort() {
    Close();
}

void SlavePort::Close() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
}

bool SlavePort::Write(const Bytes &bytes) {
    if (fd_ < 0) return false;
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd_, bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN) return false;
        pollfd fd = {fd_, POLLOUT, 0};
        if (poll(&fd, 1, 1000) <= 0 || (fd.revents & POLLOUT) == 0) return false;
    }
    return true;
}

Bytes SlavePort::Read(std::size_t count, std::chrono::milliseconds silence) {
    Bytes bytes;
    while (fd_ >= 0 && bytes.size() < count) {
        pollfd fd = {fd_, POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(silence.count())) <= 0) break;
        std::uint8_t chunk[4096];
        const std::size_t want = std::min(sizeof chunk, count - bytes.size());
        const ssize_t n = read(fd_, chunk, want);
        if (n <= 0) break;
        bytes.insert(bytes.end(), chunk, chunk + n);
    }
    return bytes;
}

Bytes SlavePort::Exchange(const Bytes &frame, std::size_t count,
                          std::chrono::milliseconds silence) {
    if (!Write(frame)) return {};
    return Read(count, silence);
}

long SlavePort::ReadOnce(std::chrono::milliseconds wait) {
    if (fd_ < 0) return -1;
    pollfd fd = {fd_, POLLIN, 0};
    if (poll(&fd, 1, static_cast<int>(wait.count())) <= 0) return -2;
    std::uint8_t chunk[256];
    return static_cast<long>(read(fd_, chunk, sizeof chunk));
}

Bytes SettingsRead(std::uint8_t id, std::uint8_t option) {
    return {0x58, 0x53, 0x03, id, 0x03, option, 0x00};
}

Bytes SettingsWrite(std::uint8_t id, std::uint8_t option, std::uint8_t value) {
    return {0x58, 0x53, 0x07, id, 0x83, option, value, 0x00, 0x00, 0x00};
}

Bytes EraseFrame(int step) {
    if (step <= 15) {
        return {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06,
                0x00, 0x0F, 0xD8, 0x00, 0x00, static_cast<std::uint8_t>(step),
                0x00};
    }
    return {0x01,
            0xE0,
            0xFC,
            0xFF,
            0xF4,
            0x06,
            0x00,
            0x0F,
            0x20,
            0x00,
            static_cast<std::uint8_t>(step * 16),
            0x0F,
            0x00};
}

Bytes PageWriteFrame(std::uint32_t address, const Bytes &page) {
    Bytes frame = {0x01,
                   0xE0,
                   0xFC,
                   0xFF,
                   0xF4,
                   0x05,
                   0x10,
                   0x07,
                   static_cast<std::uint8_t>(address),
                   static_cast<std::uint8_t>(address >> 8),
                   static_cast<std::uint8_t>(address >> 16),
                   static_cast<std::uint8_t>(address >> 24)};
    frame.resize(12 + 4096, 0xFF);
    std::copy_n(page.begin(), std::min<std::size_t>(page.size(), 4096), frame.begin() + 12);
    return frame;
}

Bytes PageReadFrame(std::uint32_t address) {
    return {0x01,
            0xE0,
            0xFC,
            0xFF,
            0xF4,
            0x05,
            0x00,
            0x09,
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16),
            static_cast<std::uint8_t>(address >> 24)};
}

}  // namespace tornelvox::emulator::testing
