// One request/reply exchange with the adapter: send, bounded read, capture, two attempts.
#pragma once

#include <span>

#include "serial/command_codes.h"
#include "serial/fail_codes.h"
#include "serial/link_session.h"

namespace tornelvox {

// Sends command code on link's port and waits for its reply. Blocks for at most the frame's
// write bound (see WriteComm) and about 1 s of silence per attempt (3 s for an erase step, 10 s
// for the check value), two attempts. Returns true when the reply counts as usable by the
// catalogue's rules for code; the reply's first bytes are then in link.ReadData. Both attempts
// used up without a usable reply set FailCode kFailNoReply; a frame not written whole returns
// false with FailCode kFailFrameNotWritten at once. The burst codes (BurstFrames) only write
// their frames and return true, or false at the first frame not written whole. Reopens a closed
// port first. When the line turns out hung up (the adapter unplugged, maybe plugged back in) and
// ReopenAfterHangup is set, closes the port, reopens it by its path and runs the exchange once
// more, so the blocking time can double.
bool SendCOMM(LinkSession &link, int code);

// Room for the whole of a reply, for a caller that needs more of it than the capture window: the
// page read back, whose 4,110-byte reply carries a whole page. The read loop copies every byte it
// receives into room, in order, up to room's size; bytes past it are counted, not kept.
struct WholeReply {
    std::span<unsigned char> room;
    int kept = 0;  // bytes of the last read kept in room: 0 to room.size()
};

// SendCOMM(link, code), also keeping the reply in whole (the last read's, when the exchange read
// more than once).
bool SendCOMM(LinkSession &link, int code, WholeReply &whole);

// Reads up to wanted reply bytes in chunks of at most 256, each chunk allowed the read calls the
// catalogue gives the last code written (ReadCallsPerChunk of WriteComm_op); the capture window
// keeps that code's CaptureChunk. Returns the bytes received, which may exceed wanted by up to
// 255. Blocks. With whole, every byte received is also kept there, as far as it has room.
int ReadCOMM(LinkSession &link, int wanted, WholeReply *whole = nullptr);

// Copies the first min(count, 64) bytes of data into link.ReadData when count is positive.
void DumpRead(LinkSession &link, int count, const unsigned char *data);

}  // namespace tornelvox
