// The adapter's command vocabulary: one frame builder for command codes 1 to 24.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tornelvox {

// Code of the last WriteComm call, stored first thing on every call. The exchange reads it to
// choose its read limits and capture window.
extern int WriteComm_op;

// Values the frame builder reads (set by their owners before they ask for the command).
extern int flash_cnt;                // erase step 0 to 29 (command 13)
extern int fw_write_cnt;             // image page 0 to 252 (command 14)
extern unsigned char BT_ADD[6];      // Bluetooth address as the name page stores it (command 15)
extern unsigned char Params[10];     // parameter page record (command 16)
extern std::uint32_t dwReadAdd;      // flash address of the page to read (commands 18, 19)
extern int g_tx_id;                  // settings transaction id; its low 8 bits are sent (23, 24)
extern unsigned char bOptions;       // settings option code (23, 24)
extern unsigned char bOptionsValue;  // settings value to write (24)

// A flash page and the longest frame: a 12-byte head and one page.
inline constexpr std::size_t kPageSize = 4096;
inline constexpr std::size_t kMaxFrameSize = 12 + kPageSize;

// The name page: the address (bytes 0 to 5), the product name "Tornelvox", three hexadecimal
// digits of the address in parentheses, zeros to byte 37, then 0xFF to the page's end.
inline constexpr std::size_t kNamePageHead = 38;  // bytes before the erased rest
void FillNamePage(const unsigned char *address, unsigned char *page);

// Result of WriteComm when the frame was not written whole.
inline constexpr int kWriteFailed = 0xFFFFFF;

// Writes the frame of code to hComm, continuing through partial writes. Blocks for at most
// WriteDeadlineMs (2 s) plus twice the frame's line time at 115,200 baud, 10 bits per byte
// (about 2.7 s for a 4108-byte page frame), waiting for room with poll; the port stays in
// blocking mode for reads. Returns the reply length to wait for (0 when the command has no
// reply or the code has no frame: 20, below 1, above 24), or kWriteFailed with FailCode 5 when
// the whole frame was not written by then, the line failed or no port is open.
int WriteComm(int code);

// Builds the frame of code into frame (at least kMaxFrameSize bytes) without writing it.
// Returns the frame's length in bytes, 0 for a code without a frame.
std::size_t BuildFrame(int code, unsigned char *frame);

// Reply length the catalogue waits for after code (0 for none).
int ReplyLength(int code);

// True when a reply to code counts only if it has the shape the adapter's chip answers with, an
// HCI Command Complete event (04 0E): the probe (1), which tells the adapter from other devices.
bool ReplyMustBeCommandComplete(int code);

// ASCII hexadecimal digit of value: 0-9 give '0'-'9', 10-15 give 'A'-'F', anything else '0'.
char Int2Char(unsigned value);

}  // namespace tornelvox
