// Firmware identity, boot loader entry, flash programming and the update worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "serial/serial_link.h"

namespace tornelvox {

// ---- Built-in image and its identity -------------------------------------------------------

inline constexpr int kImagePages = 253;
inline constexpr std::size_t kImageSize = kImagePages * kPageSize;  // 1,036,288 bytes (0xFD000)

extern const unsigned char rawData[kImageSize];  // the image, embedded by the build
extern const int VerNum;                         // version of the image, 0x603
extern const char Ver_Num[8];                    // the utility's version text, "6.03"
extern const unsigned char FW_CRC[4];            // check value the adapter must report, LSB first

// Adapter's firmware version from three hexadecimal digits (0x603 for "603"); 0 when unknown.
extern int CurVerNum;
// The three version characters of the last version reply; "000" at the start of each query.
extern char Ver[3];

// Asks the adapter for its firmware version (command 22). Returns 1 and logs two lines when the
// reply holds "KQ Version" and three digits; 0 otherwise, leaving CurVerNum unchanged.
unsigned char CheckFMVersion();

// Version number of three characters: (v(d0) << 8) | (v(d1) << 4) | v(d2), with char2int as v.
int GetVerNum(const char *digits);

// Digit value of a hexadecimal character ('0'-'9', 'a'-'f', 'A'-'F'); 0 for anything else.
int char2int(char c);

// ---- Boot loader entry and flash programming ----------------------------------------------

extern unsigned char bParam;  // set when GetParam found a parameter record

// Brings the adapter's chip into its boot loader (commands 1, 2, 6). 1 on success; FailCode
// 7 or 8 when the probe or the handshake failed twice.
unsigned char Set2Boot();

// Reads the adapter's name page and, with copy_flag 1, takes its Bluetooth address into BT_ADD.
// 1 when the adapter holds a valid name page.
unsigned char GetID(int copy_flag);

// Enables flash writing, erases, writes pages 1 to 252, the name page and page 0, and verifies
// the check value. 1 on success; 0 on failure (FailCode 11 to 20) or cancellation.
unsigned char ProgramDevice();

// Reads the parameter page record into Params. 0 when the page read failed. Not part of the
// update.
unsigned char GetParam();

// ---- Update worker ------------------------------------------------------------------------

// Set by the Update action before the worker starts; cleared to cancel, and by the worker at its
// success and failure ends.
extern std::atomic<bool> ThreadRunning;
// Set by the worker first thing, cleared at each of its ends. Cancel waits for it to clear.
extern std::atomic<bool> UpdateFirmwareRunning;

// The pause after a failed attempt that is retried, in seconds (3). Defaults to sleeping; tests
// replace it. Change it only while no worker runs.
extern std::function<void(unsigned seconds)> RetryPause;

// The worker's body: up to ten attempts, then the success, failure or cancel end. Returns 1
// after a successful update. Posts the restored buttons through window at its end.
int RunUpdateWorker(const std::shared_ptr<WindowLink> &window);

// The Update action: sets ThreadRunning, locks the buttons, starts RunUpdateWorker on a
// detached thread and returns at once.
void StartUpdateWorker(std::shared_ptr<WindowLink> window);

// The Cancel action: clears ThreadRunning and blocks, without spinning, until the worker has
// reached one of its ends.
void CancelUpdate();

// Worker threads started by StartUpdateWorker that have finished, their window released. A
// worker posts its restored buttons before it clears ThreadRunning and lets go of the window;
// whoever starts the next update in the same breath (tests) waits for this count first.
unsigned UpdateWorkersEnded();

// Blocks until UpdateWorkersEnded() reaches count or the timeout passes. True if it did.
bool WaitForUpdateWorkersEnded(unsigned count, std::chrono::milliseconds timeout);

}  // namespace tornelvox
