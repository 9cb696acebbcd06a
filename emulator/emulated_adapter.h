// An emulated Tornelvox adapter on the master side of a pseudo-terminal.
//
// The utility opens the slave side (DevicePath(), or a link made with LinkAt()) as if it were the
// adapter's USB serial port. The emulator parses the frames it receives, answers them as the
// adapter's Bluetooth chip, boot loader and line-side firmware would, keeps a 1 MiB NOR flash and
// a settings store, records every frame and reply, and injects faults that a test asks for.
//
// Typical use in a test:
//
//   tornelvox::emulator::EmulatedAdapter adapter({.version = 0x2FF});
//   ASSERT_TRUE(adapter.Start());
//   ASSERT_TRUE(adapter.LinkAt(dir + "/cu.usbserial-1410"));
//   adapter.AddFault({.code = kCodeErase, .kind = FaultKind::kSilence, .skip = 2});  // 3rd erase
//   ... run the utility's code against the link ...
//   EXPECT_TRUE(adapter.UnexpectedBytes().empty()) << adapter.Transcript();
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tornelvox::emulator {

inline constexpr std::size_t kFlashSize = 0x100000;  // 1 MiB serial NOR flash
inline constexpr std::size_t kPageSize = 4096;

struct AdapterConfig {
    // Firmware version the adapter runs at start (three hex digits, 0x302 is "302").
    std::uint32_t version = 0x302;
    // Version the adapter runs after a reset that follows a successful reprogramming.
    std::uint32_t version_after_update = 0x603;
    // Bluetooth address stored in the name page at start (bytes with the top bit set on
    // purpose: a line that strips it corrupts the address).
    std::array<std::uint8_t, 6> bt_address{0xA7, 0x03, 0x5C, 0x21, 0x9E, 0x40};
    // False: the flash holds no name page at start, as after an update that never finished.
    bool name_page_stored = true;
    // A second valid name page, with this address, at the place the version does not use.
    std::optional<std::array<std::uint8_t, 6>> other_place_address = std::nullopt;
    // Every answer to the version query carries the emulated adapter's marker, also when there
    // is no firmware to report; false plays a real adapter, which never sends it.
    bool identifies_as_emulator = true;
    // Line rate in baud for pacing, 10 bits per byte; 0 leaves the line unpaced.
    int line_baud = 0;
    // The boot loader never answers: the handshake and the recovery bursts stay unanswered.
    bool boot_loader_never_answers = false;
    // The handshake is answered only after the wake-up frame and a burst after it have come.
    bool handshake_only_after_recovery = false;
    // Time one erase step (kCodeErase) takes before its reply.
    int erase_delay_ms = 0;
    // Time the check value (kCodeVerify) takes before its reply: the adapter reads its flash.
    int verify_delay_ms = 0;
    // A handshake followed by more input within this time is a burst frame and not answered.
    int handshake_settle_ms = 20;
    // A partial frame with no further input for this long is dropped as unexpected bytes;
    // 0 waits for the rest forever.
    int partial_frame_timeout_ms = 1000;
    // The line is left the way a careless other program might leave it instead of raw: input
    // processing (ISTRIP, INPCK, PARMRK, ICRNL, INLCR, IUCLC, IXON, IXOFF, IXANY, BRKINT), output
    // processing (OPOST, ONLCR, OCRNL, OLCUC), 7 data bits with parity and two stop bits, CRTSCTS
    // on, CLOCAL off, HUPCL on, ICANON, ISIG and IEXTEN on; echo stays off. On a pseudo-terminal
    // the slave's settings act on both directions: the adapter's replies pass its input
    // processing, the utility's frames its output processing. The pseudo-terminal driver itself
    // keeps 8 data bits without parity whatever is asked.
    bool strange_line_mode = false;
    // The adapter never takes input from the line, like a device whose driver's buffer is full:
    // whatever the utility writes stays in the line's buffers until they are full, and then its
    // writes find no room. Nothing is answered. Stop and Unplug still act at once.
    bool never_reads = false;
    // The USB serial number the adapter's USB bridge reports, as listed by ListInDeviceTree;
    // empty for a bridge without one.
    std::string usb_serial = {};
};

enum class FaultKind {
    kSilence,           // no reply
    kShortReply,        // only the first `bytes` bytes of the reply
    kOneByteReply,      // only the first byte of the reply
    kSplitReply,        // the reply in pieces of `bytes` bytes, `delay_ms` apart
    kExtraBytes,        // `bytes` extra bytes after the reply
    kGarbage,           // bytes of the reply's length that mean nothing
    kLateReply,         // the reply after a delay of `delay_ms`
    kLeadingNoise,      // `bytes` noise bytes before a settings reply
    kWrongCheckValue,   // kCodeVerify reports a corrupted check value
    kOutOfRangeNumber,  // a settings reply carries `value` instead of the stored number
    kPageWriteFails,    // the page written is not programmed and no reply comes
    kUnwrittenPage,     // the page write is answered as done, but the page is not programmed
    kErasedPageRead,    // a page read (kCodeReadPage) answers as if the page were erased
    kUnplug,            // the adapter is unplugged when the frame arrives
};

inline constexpr int kAlways = -1;

// A fault applied to frames of one command code (as frame_catalogue.h names them). Of the frames
// that match (code, and option or page when given), the first `skip` pass untouched and the next
// `times` get the fault (kAlways: every one from then on). "The 3rd erase step" is
// {.code = kCodeErase, .skip = 2}.
struct FaultRule {
    int code = 0;
    FaultKind kind = FaultKind::kSilence;
    int option = -1;  // settings frames: only this option code; -1 for any
    int page = -1;    // page writes: only the page at this page number; -1 for any
    int skip = 0;
    int times = 1;
    std::size_t bytes = 2;  // kept bytes, piece size, extra bytes or noise bytes
    int delay_ms = 50;      // late-reply delay or pause between pieces
    std::uint32_t value = 99;
};

enum class RecordKind {
    kFrame,            // a frame the adapter received, identified by its catalogue code
    kReply,            // bytes the adapter sent; code is the frame it answered
    kUnexpectedBytes,  // received bytes that fit no frame; code 0
    kEvent,            // something that happened to the adapter (reset, unplug); code 0
};

struct FrameRecord {
    RecordKind kind = RecordKind::kEvent;
    int code = 0;
    std::vector<std::uint8_t> bytes;
    std::string note;  // fault applied, event text
};

class EmulatedAdapter {
  public:
    explicit EmulatedAdapter(AdapterConfig config = {});
    ~EmulatedAdapter();
    EmulatedAdapter(const EmulatedAdapter &) = delete;
    EmulatedAdapter &operator=(const EmulatedAdapter &) = delete;

    // Creates the pseudo-terminal and starts serving. False when the line cannot be made.
    bool Start();
    // Ends the serving thread, closes the line and removes the links. Safe to call twice.
    void Stop();
    // Path of the slave side, like /dev/pts/7; empty before Start.
    std::string DevicePath() const;
    // Makes a symbolic link at link_path to the slave side; removed on Stop. An existing link
    // at that path is replaced; any other existing file makes it fail.
    bool LinkAt(const std::string &link_path);
    // Hangs the line up at once: the utility's reads return 0 or fail and its writes fail. The
    // links go too, as an unplugged adapter's node does; Replug makes them again.
    void Unplug();
    // Unplugs the adapter if it is plugged, then plugs it back in: a new pseudo-terminal, as a
    // real adapter gets a new node, with the links pointing at it; with new_link, the only link
    // is at that path instead (the node appears elsewhere). The chip restarts from its flash.
    // False when the new line or a link cannot be made.
    bool Replug(const std::string &new_link = "");
    // Power lost and back: the chip restarts from its flash (no boot loader; firmware only if
    // page 0 holds some). The line and the flash stay.
    void PowerCycle();
    bool Plugged() const;
    // Lists the adapter's node under root, a stand-in for the system's device tree (/sys), as a
    // USB device with the configured usb_serial, and keeps the entry in step with the line: it
    // goes when the adapter is unplugged and comes back for the new node of a replug.
    bool ListInDeviceTree(const std::string &root);
    // A second adapter plugged into the same socket: when this adapter is next unplugged (by
    // Unplug or a kUnplug fault), `next`, already started, takes over its links before this
    // line hangs up, so that whoever reopens the link after the hang-up finds `next`. `next`
    // must outlive this adapter's unplug.
    void PlugInAfterUnplug(EmulatedAdapter &next);

    // Faults.
    void AddFault(const FaultRule &rule);
    void ClearFaults();

    // Recording, in the order things happened.
    std::vector<FrameRecord> Frames() const;
    std::vector<int> ReceivedCodes() const;  // codes of received frames, in order
    int CountOf(int code) const;             // received frames of this code
    std::vector<std::uint8_t> UnexpectedBytes() const;
    // Waits until `count` frames of `code` have been received and handled (their reply sent).
    bool WaitForFrames(int code, int count, std::chrono::milliseconds timeout) const;
    std::string Transcript() const;
    void ClearRecords();

    // Flash.
    std::vector<std::uint8_t> Flash() const;
    std::vector<std::uint8_t> ReadFlash(std::uint32_t address, std::size_t size) const;
    // Overwrites flash bytes directly (not NOR programming); false if out of range.
    bool WriteFlash(std::uint32_t address, const std::vector<std::uint8_t> &bytes);
    // CRC-32/JAMCRC over flash 0x00000 to 0x7CFFF, as kCodeVerify reports it.
    std::uint32_t CheckValue() const;

    // Adapter state.
    std::uint32_t Version() const;
    bool InBootLoader() const;
    bool FirmwarePresent() const;  // false after a reset with an erased page 0

    // Settings, in the adapter's own numbers (hook speed 3/5/7/10, off-hook power 225...80).
    // Setting() is empty for an option the current firmware does not know.
    std::optional<std::uint32_t> Setting(int option) const;
    // Plants any number, also one out of range; false for an option code outside 1..255.
    bool SetSetting(int option, std::uint32_t value);

    // Line counters.
    std::uint64_t BytesReceived() const;
    std::uint64_t BytesSent() const;
    // Time the received and sent bytes take on the line at the configured rate (115,200 baud
    // when the line is unpaced), 10 bits per byte.
    std::chrono::nanoseconds LineTime() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace tornelvox::emulator
