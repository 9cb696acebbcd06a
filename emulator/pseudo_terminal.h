// A pseudo-terminal for the emulated devices and the tests: its master side, its slave side held
// open in raw mode, the slave's path, and symbolic links that make it look like a USB serial
// node in a device folder.
#pragma once

#include <string>

namespace tornelvox::emulator {

class PseudoTerminal {
  public:
    PseudoTerminal() = default;
    ~PseudoTerminal() { Close(); }
    PseudoTerminal(const PseudoTerminal &) = delete;
    PseudoTerminal &operator=(const PseudoTerminal &) = delete;

    // Creates a new pseudo-terminal (posix_openpt, grantpt, unlockpt; O_RDWR | O_NOCTTY) and opens
    // its slave side, in raw mode, as the line's own: holding it keeps the line up while nobody
    // else has the slave open. Closes any pseudo-terminal it had first. False, with nothing left
    // open, when a step fails.
    bool Open();
    // Closes both sides: whoever has the slave open sees a hang-up. Safe when closed.
    void Close();

    bool IsOpen() const { return master_ >= 0; }
    int Master() const { return master_; }
    int HeldSlave() const { return held_slave_; }
    // The slave's node, as the utility opens it; kept after Close.
    const std::string &SlavePath() const { return slave_path_; }

  private:
    int master_ = -1;
    int held_slave_ = -1;
    std::string slave_path_;
};

// Puts the terminal at fd into raw mode: 8 bits through unchanged, no echo, no signals, no
// flow control. True when applied.
bool MakeRaw(int fd);

// Opens the terminal node at path (O_RDWR | O_NOCTTY and extra_flags) in raw mode. The
// descriptor, or -1 when the node cannot be opened or made raw.
int OpenRawTerminal(const std::string &path, int extra_flags = 0);

// A symbolic link at link_path to target, replacing a symbolic link already there but never
// another kind of file. True when made.
bool LinkTo(const std::string &target, const std::string &link_path);

// Removes the link at link_path; one that is already gone is no error.
void RemoveLink(const std::string &link_path);

}  // namespace tornelvox::emulator
