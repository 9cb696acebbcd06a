// One adapter's link: its port, where the search looks for it, the inputs of the next frame, the
// capture of the last reply and the message log. Every serial function takes the session it
// works for, so two adapters' links never share a byte.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>

#include "serial/fail_codes.h"
#include "serial/message_log.h"
#include "serial/port.h"

namespace tornelvox {

// Capacity of ComPortName and of the search's candidate path, terminator included. Every
// USB serial node path seen in practice is well under this; longer entries are skipped.
inline constexpr std::size_t kPortPathSize = 64;

// ComPortName before any port was opened.
inline constexpr char kInitialPortName[] = "/dev/";

// Directory the search lists: "/dev" for the utility.
inline constexpr char kDefaultDeviceDirectory[] = "/dev";

// Longest wait of one read call for the first byte, in milliseconds. 100 (0.1 s) matches the
// port's VTIME of one decisecond.
inline constexpr int kDefaultReadCallTimeoutMs = 100;

// Base of the time one frame may take to be written whole, in milliseconds: 2000 (2 s). Each
// frame gets this plus twice its line time at 115,200 baud (see WriteComm).
inline constexpr int kDefaultWriteDeadlineMs = 2000;

// Folder that stands for /proc when the holders of a node are looked for.
inline constexpr char kDefaultProcRoot[] = "/proc";

// Program files whose presence means brltty is installed, separated by ':'.
inline constexpr char kDefaultBrlttyProgramPaths[] = "/usr/bin/brltty:/bin/brltty";

// Reply capture window: the first up to 64 bytes of the capture chunk of the last reply.
inline constexpr int kCaptureSize = 64;

// A flash page and the longest frame: a 12-byte head and one page.
inline constexpr std::size_t kPageSize = 4096;
inline constexpr std::size_t kMaxFrameSize = 12 + kPageSize;

// Reply bytes that tell the line's rate well enough: a page read's reply has 4,110; the other
// commands' replies have at most 33.
inline constexpr int kLineTimingBytes = 1024;

// Bytes that crossed the line and the seconds they took.
struct LineTiming {
    std::size_t bytes = 0;
    double seconds = 0.0;
};

// What the frame builder reads: the inputs of the next frame. Set by their owners before they
// ask for the command.
struct FrameInputs {
    int flash_cnt = 0;     // erase step 0 to 29 (kCmdEraseStep)
    int fw_write_cnt = 0;  // image page 0 to 252 (kCmdWriteImagePage)
    // Bluetooth address as the name page stores it (kCmdWriteNamePage).
    unsigned char BT_ADD[6] = {0x00, 0x01, 0x00, 0x03, 0x04, 0x06};
    // Parameter page record (kCmdWriteParameterPage).
    unsigned char Params[10] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    std::uint32_t dwReadAdd = 0;      // flash address of the page to read
    int g_tx_id = 1;                  // settings transaction id; its low 8 bits are sent
    unsigned char bOptions = 0;       // settings option code (kCmdReadSetting, kCmdWriteSetting)
    unsigned char bOptionsValue = 0;  // settings value to write (kCmdWriteSetting)
    // The bytes of the image page kCmdWriteImagePage writes: kPageSize of them, set by the
    // firmware layer, which alone knows the image. Without them the page frame is not built.
    std::span<const unsigned char> page;
};

class LinkSession : public FrameInputs {
  public:
    LinkSession();
    // Closes the port when it is still open.
    ~LinkSession();
    LinkSession(const LinkSession &) = delete;
    LinkSession &operator=(const LinkSession &) = delete;

    // --- The port. Unguarded: one thread at a time uses a session's port (the front ends keep
    // the Check action and the workers from running at the same time).

    // Descriptor of the open port; 0 means closed. The session's PosixPort works on it.
    int hComm = 0;

    // The port the session's link goes through: a PosixPort on hComm. Another system's port would
    // be made in the session's constructor instead.
    Port &LinePort() { return *port_; }
    const Port &LinePort() const { return *port_; }

    // Full path of the last port opened (initially kInitialPortName); kept after a close so that
    // InitPort can reopen the same device.
    char ComPortName[kPortPathSize] = "/dev/";  // kInitialPortName; an array cannot copy one

    // Reason of the last recorded failure, a FailReason; never cleared. The serial link records
    // kFailPortOpen, kFailFrameNotWritten and kFailNoReply; the others come from the boot loader
    // entry and flash programming.
    int FailCode = kFailNone;

    // The system's reason (errno) of the last open that failed: of the node, or of the exclusive
    // hold when another program holds it (EWOULDBLOCK, EBUSY).
    int OpenError = 0;

    // The system's reason (errno) of the last read or write on the line that failed, as the port
    // gave it; 0 when none did. The exchange clears it when it starts.
    int LineError = 0;

    // Set when the last exchange found the line hung up: end of file or a hang-up on read, an
    // I/O error on write. HangupsSeen counts every such finding, for whoever must know that one
    // came (NoteHangup).
    bool LineHungUp = false;
    std::atomic<unsigned> HangupsSeen{0};

    // Whether an exchange that finds the line hung up reopens the port by its path and tries
    // once more (true: the Check and the settings; the update clears it, since it never resumes
    // page writes on an adapter that may have restarted, and retries whole attempts instead).
    std::atomic<bool> ReopenAfterHangup{true};

    // Longest wait of one read call for the first byte, in milliseconds; tests shorten it so
    // that silent exchanges cost less.
    std::atomic<int> ReadCallTimeoutMs{kDefaultReadCallTimeoutMs};

    // Base of the time one frame may take to be written whole, in milliseconds; tests shorten
    // it so that a device that takes no input fails its write sooner.
    std::atomic<int> WriteDeadlineMs{kDefaultWriteDeadlineMs};

    // --- Where the search looks. Set these only while no search runs.

    // Directory the search lists; tests point it at a folder of links to pseudo-terminals.
    std::string DeviceDirectory = kDefaultDeviceDirectory;
    // A folder the search lists before DeviceDirectory (the demo mode's runtime folder, where
    // its emulated adapter's node is linked); empty for none, as with a real adapter.
    std::string FirstDeviceDirectory;
    // Folder that stands for /proc when the holders of a node are looked for.
    std::string ProcRoot = kDefaultProcRoot;
    // Program files whose presence means brltty is installed, separated by ':'.
    std::string BrlttyProgramPaths = kDefaultBrlttyProgramPaths;
    // Candidate nodes the last search found (0: none at all, probed or not).
    std::size_t SearchCandidates = 0;

    // --- The capture of the last exchange.

    // The first up to 64 bytes of the capture chunk of the last reply. Not cleared between
    // exchanges.
    unsigned char ReadData[kCaptureSize] = {};
    int CapturedCnt = 0;  // bytes the last read put into ReadData (0: it captured nothing)
    int CmdReadCnt = 0;   // reply length the last exchange waited for
    int RealReadCnt = 0;  // reply bytes the last read counted (may exceed CmdReadCnt)
    // Set by the last exchange when bytes came back that are not shaped as the catalogue wants
    // a reply to its code (the probe's: an HCI Command Complete event): another device answered.
    bool ForeignReply = false;
    // Code of the last WriteComm call, stored first thing on every call. The exchange reads it
    // to choose its read limits and capture window.
    int WriteComm_op = 0;

    // --- What the line's rate turned out to be.

    // The rate in bits per second SetParameters last applied to the port; 0 before any.
    int LineBaud = 0;
    // Exchanges with a long reply (page reads, at least kLineTimingBytes): the bytes of their
    // frames and replies, and the time from each frame written to its reply's last byte. Line
    // time mostly, with the little each exchange waits besides, as a page write's does too.
    // Added to by every such exchange; whoever wants the rate of a stretch of work clears it
    // first.
    LineTiming LongExchangeTiming;

    // --- The message log of this session.

    // Installs the session's sink; an empty sink drops every message. Safe to call while other
    // threads log: a message goes to whichever sink was installed when it was formatted.
    void SetMessageSink(MessageSink sink);
    // Hands text, as it is, to the installed sink; dropped with no sink. Never blocks on the
    // front end.
    void Log(const std::string &text) const;

  private:
    std::unique_ptr<Port> port_;
    mutable std::mutex sink_mutex_;
    std::shared_ptr<const MessageSink> sink_;
};

}  // namespace tornelvox
