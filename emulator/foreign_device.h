// Serial devices that are not the adapter, on pseudo-terminals of their own, for the tests of
// the search: one that echoes every byte back (a loopback cable, a board's console), one that
// streams text whatever it is sent (a GPS receiver), and one that never answers. Each records
// what it was sent, so that a test can tell which frames reached it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tornelvox::emulator {

enum class ForeignKind {
    kEcho,    // sends every byte it receives straight back
    kStream,  // sends a line of text every 20 ms, whatever it receives
    kSilent,  // takes its input and never answers
};

class ForeignDevice {
  public:
    explicit ForeignDevice(ForeignKind kind);
    ~ForeignDevice();
    ForeignDevice(const ForeignDevice &) = delete;
    ForeignDevice &operator=(const ForeignDevice &) = delete;

    // Creates the pseudo-terminal and starts serving. False when the line cannot be made.
    bool Start();
    // Ends the serving thread, closes the line and removes the links. Safe to call twice.
    void Stop();
    // A symbolic link at link_path to the device's node; removed on Stop.
    bool LinkAt(const std::string &link_path);

    // Every byte it was sent, in order.
    std::vector<std::uint8_t> Received() const;
    // The codes of the utility's frames among them (as the emulated adapter would name them),
    // in order; bytes that begin no frame are passed over.
    std::vector<int> ReceivedCodes() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tornelvox::emulator
