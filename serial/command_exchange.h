// One request/reply exchange with the adapter: send, bounded read, capture, two attempts.
#pragma once

#include <span>
#include <string>

#include "serial/command_codes.h"
#include "serial/fail_codes.h"
#include "serial/link_session.h"

namespace tornelvox {

// What one exchange came to: a usable reply, or a failure with its reason.
struct ExchangeResult {
    bool usable = false;
    // Why it failed (kFailNone when usable): kFailNoReply when two attempts brought no usable
    // reply, kFailFrameNotWritten when a frame was not written whole, kFailPortOpen when the
    // port was closed and could not be opened again. The session's FailCode is recorded as ever;
    // it may name a later step than this does (a port that cannot be reopened also fails the
    // frame's write).
    FailReason code = kFailNone;
    // The system's reason (an errno value) behind the failure, 0 when the system gave none (the
    // adapter was silent, the write's deadline passed).
    int error = 0;
    // The failure in words a person can act on; empty when usable.
    std::string text;
    // The reply's captured bytes (link.ReadData up to CapturedCnt), empty for a command that has
    // no reply and on failure. Valid until the next exchange on the same session.
    std::span<const unsigned char> reply;

    explicit operator bool() const { return usable; }
};

// Sends command code on link's port and waits for its reply. Blocks for at most the frame's
// write bound (see WriteComm) and about 1 s of silence per attempt (3 s for an erase step, 10 s
// for the check value), two attempts. The result is usable when the reply counts as usable by
// the catalogue's rules for code; the reply's first bytes are then in link.ReadData. Both attempts
// used up without a usable reply set FailCode kFailNoReply; a frame not written whole fails
// with FailCode kFailFrameNotWritten at once. The burst codes (BurstFrames) only write
// their frames and are usable, or fail at the first frame not written whole. Reopens a closed
// port first. When the line turns out hung up (the adapter unplugged, maybe plugged back in) and
// ReopenAfterHangup is set, closes the port, reopens it by its path and runs the exchange once
// more, so the blocking time can double.
ExchangeResult SendCOMM(LinkSession &link, int code);

// Room for the whole of a reply, for a caller that needs more of it than the capture window: the
// page read back, whose 4,110-byte reply carries a whole page. The read loop copies every byte it
// receives into room, in order, up to room's size; bytes past it are counted, not kept.
struct WholeReply {
    std::span<unsigned char> room;
    int kept = 0;  // bytes of the last read kept in room: 0 to room.size()
};

// SendCOMM(link, code), also keeping the reply in whole (the last read's, when the exchange read
// more than once).
ExchangeResult SendCOMM(LinkSession &link, int code, WholeReply &whole);

// Reads up to wanted reply bytes in chunks of at most 256, each chunk allowed the read calls the
// catalogue gives the last code written (ReadCallsPerChunk of WriteComm_op); the capture window
// keeps that code's CaptureChunk. Returns the bytes received, which may exceed wanted by up to
// 255. Blocks. With whole, every byte received is also kept there, as far as it has room.
int ReadCOMM(LinkSession &link, int wanted, WholeReply *whole = nullptr);

// Copies the first min(count, 64) bytes of data into link.ReadData when count is positive.
void DumpRead(LinkSession &link, int count, const unsigned char *data);

}  // namespace tornelvox
