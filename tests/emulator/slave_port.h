// A test's own raw connection to the emulator's slave side: tiny writes and bounded reads,
// without any of the utility's serial code.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tornelvox::emulator::testing {

using Bytes = std::vector<std::uint8_t>;

class SlavePort {
  public:
    explicit SlavePort(const std::string &path);
    ~SlavePort();
    SlavePort(const SlavePort &) = delete;
    SlavePort &operator=(const SlavePort &) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // Writes all bytes in one write call; true when all went out.
    bool Write(const Bytes &bytes);
    // Reads until `count` bytes came or the line was silent for `silence`.
    Bytes Read(std::size_t count,
               std::chrono::milliseconds silence = std::chrono::milliseconds(300));
    // Writes a frame and reads up to `count` reply bytes.
    Bytes Exchange(const Bytes &frame, std::size_t count,
                   std::chrono::milliseconds silence = std::chrono::milliseconds(300));
    // Result of one read call after waiting up to `wait`: bytes read, 0 at end of file,
    // -1 on error, -2 when nothing came.
    long ReadOnce(std::chrono::milliseconds wait);
    void Close();

  private:
    int fd_ = -1;
};

// Frames of the catalogue, as the utility sends them.
Bytes SettingsRead(std::uint8_t id, std::uint8_t option);
Bytes SettingsWrite(std::uint8_t id, std::uint8_t option, std::uint8_t value);
Bytes EraseFrame(int step);                                      // erase step 0..29
Bytes PageWriteFrame(std::uint32_t address, const Bytes &page);  // 4108 bytes
Bytes PageReadFrame(std::uint32_t address);

extern const Bytes kProbe, kHandshake, kWakeUp, kEnterBootLoader, kResetFirst, kResetSecond,
    kWriteEnable1, kWriteEnable2, kVerify, kVersionQuery;

}  // namespace tornelvox::emulator::testing
