// The adapter's command vocabulary: one frame builder for command codes 1 to 24, and the rules
// the exchange follows for each.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "serial/command_codes.h"
#include "serial/fail_codes.h"
#include "serial/link_session.h"

namespace tornelvox {

// The name page: the address (bytes 0 to 5), the product name "Tornelvox", three hexadecimal
// digits of the address in parentheses, zeros to byte 37, then 0xFF to the page's end.
inline constexpr std::size_t kNamePageHead = 38;  // bytes before the erased rest
void FillNamePage(const unsigned char *address, unsigned char *page);

// Result of WriteComm when the frame was not written whole.
inline constexpr int kWriteFailed = 0xFFFFFF;

// Writes the frame of code, built from link's frame inputs, to link's port, continuing through
// partial writes; sets link.WriteComm_op to code first. Blocks for at most WriteDeadlineMs (2 s)
// plus twice the frame's line time at 115,200 baud, 10 bits per byte (about 2.7 s for a 4108-byte
// page frame), waiting for room with poll; the port stays in blocking mode for reads. Returns the
// reply length to wait for (0 when the command has no reply or the code has no frame: kCmdNoFrame,
// below kFirstCommand, above kLastCommand), or kWriteFailed with FailCode kFailFrameNotWritten when
// the whole frame was not written by then, the line failed, no port is open or the frame could not
// be built (an image page without its bytes).
int WriteComm(LinkSession &link, int code);

// The longest time WriteComm gives the frame of code to be written whole (see WriteComm).
std::chrono::milliseconds FrameWriteBound(const LinkSession &link, int code);

// Builds the frame of code from in into frame (at least kMaxFrameSize bytes) without writing it.
// Returns the frame's length in bytes, 0 for a code without a frame, and 0 for kCmdWriteImagePage
// when in.page does not hold exactly kPageSize bytes.
std::size_t BuildFrame(int code, const FrameInputs &in, unsigned char *frame);

// Length in bytes of the frame of code (0 for a code without a frame).
int FrameLength(int code);

// Reply length the catalogue waits for after code (0 for none).
int ReplyLength(int code);

// True when a reply to code counts only if it has the shape the adapter's chip answers with, an
// HCI Command Complete event (04 0E): the probe, which tells the adapter from other devices.
bool ReplyMustBeCommandComplete(int code);

// Read calls one chunk of the reply to code may use, each waiting at most ReadCallTimeoutMs for
// its first byte: 100 for the check value (the adapter computes it for about 10 s), 30 for an
// erase step (about 3 s per block), 10 (about 1 s) for everything else, codes without a frame
// included.
int ReadCallsPerChunk(int code);

// The chunk of the reply to code whose first bytes the capture window keeps: 2 for the parameter
// page read, where its record lies; 0 for everything else.
int CaptureChunk(int code);

// How many times the exchange writes the frame of code back to back without reading a reply:
// the boot loader's recovery frames (200 handshakes before the wake-up frame, the wake-up frame
// once, 100 handshakes after it). 0 for a command that is exchanged as request and reply.
int BurstFrames(int code);

// What a reply that arrived, but shorter than the catalogue's reply length, counts as.
enum class ShortReply {
    kAtLeastTwoBytes,      // usable when it holds at least 2 bytes
    kFails,                // not usable: the exchange fails at once, without a second attempt
    kAcceptUnlessRefused,  // usable, unless it starts 04 0E 05 (a refusal): then tried again
};
ShortReply ShortReplyRule(int code);

// ASCII hexadecimal digit of value: 0-9 give '0'-'9', 10-15 give 'A'-'F', anything else '0'.
char Int2Char(unsigned value);

}  // namespace tornelvox
