// Firmware identity, boot loader entry, flash programming and the update worker.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "firmware/firmware_session.h"
#include "firmware/image_read_back.h"
#include "firmware/update_progress.h"
#include "serial/bt_address.h"
#include "serial/serial_link.h"

namespace tornelvox {

// ---- Built-in image and its identity -------------------------------------------------------

inline constexpr int kImagePages = 253;
inline constexpr std::size_t kImageSize = kImagePages * kPageSize;  // 1,036,288 bytes (0xFD000)

extern const unsigned char rawData[kImageSize];  // the image, embedded by the build
extern const int VerNum;                         // version of the image, 0x603
extern const char Ver_Num[8];                    // the utility's version text, "6.03"
extern const unsigned char FW_CRC[4];            // check value the adapter must report, LSB first
// True when the image has the check value of the vendor's image of its version. A build without
// it (the project's placeholder image) updates only the emulated adapter.
extern const bool kVendorImage;

// Asks the adapter for its firmware version (kCmdQueryVersion). Returns 1 and logs two lines when
// the reply holds "KQ Version" and three digits; 0 otherwise, leaving CurVerNum unchanged. Either
// way QueriedAdapter records what the reply said about the adapter at ComPortName.
unsigned char CheckFMVersion(FirmwareSession &session);

// True when CurVerNum is the version of the adapter at ComPortName: read by its last version
// query, or set by an update of it that succeeded.
bool VersionKnown(const FirmwareSession &session);

// True when the built-in image may be written to the adapter at ComPortName: the image is the
// vendor's, or the adapter said in its last version query that it is the emulated one and the
// line has not hung up since (a device plugged in since is not known).
bool ImageMayUpdateAdapter(const FirmwareSession &session);

// Asks the version again without logging anything (kCmdQueryVersion), only to learn whether the
// device at ComPortName is the emulated adapter; updates QueriedAdapter.emulated. For an update
// in a build without the vendor image after the line hung up. Blocks like one exchange.
// Returns false when nothing answered (no port, or silence).
bool IdentifyAdapterQuietly(FirmwareSession &session);

// Version number of three characters: (v(d0) << 8) | (v(d1) << 4) | v(d2), with char2int as v.
int GetVerNum(const char *digits);

// A firmware version as the log shows it, its three hexadecimal digits ("302" for 0x302).
std::string VersionText(int version);

// Digit value of a hexadecimal character ('0'-'9', 'a'-'f', 'A'-'F'); 0 for anything else.
int char2int(char c);

// Lines the Check action adds after its advice: that the adapter may hold an update that never
// finished (when its version could not be read) and that Update repairs it, and that this build
// cannot update it (no vendor image, and not the emulated adapter).
void ShowCheckNotes(FirmwareSession &session, bool version_read);

// ---- Boot loader entry and flash programming ----------------------------------------------

// Brings the adapter's chip into its boot loader (kCmdProbe, kCmdHandshake, kCmdEnterBootLoader).
// 1 on success; FailCode kFailProbe or kFailHandshake when the probe or the handshake failed
// twice.
unsigned char Set2Boot(FirmwareSession &session);

// Where adapters keep their name page: firmware before 0x300 at 0x7D000, later at 0xFD000. The
// update always writes the new one to 0xFD000.
inline constexpr std::uint32_t kOldNamePageAddress = 0x7D000;
inline constexpr std::uint32_t kNamePageAddress = 0xFD000;

// Reads the adapter's name page and, with copy_flag 1, takes its Bluetooth address into BT_ADD.
// 1 when the adapter holds a valid name page. Reads the place CurVerNum implies, and the other
// place too when the version is not known or the first place holds no valid page; valid pages
// with different addresses at both places count as no address (LastNamePageSearch tells).
unsigned char GetID(FirmwareSession &session, int copy_flag);

// Enables flash writing, erases, writes pages 1 to 252, the name page and page 0, verifies the
// check value and reads the name page back; with kWholeImage it then reads image pages 125 to
// 252 back and compares them with the image. 1 on success; 0 on failure (FailCode
// kFailWriteEnableFirst to kFailImagePageReadBack) or cancellation. Tells FlashProgressSink how
// far it got.
unsigned char ProgramDevice(FirmwareSession &session,
                            ImageVerification verification = ImageVerification::kCheckValue);

// Reads the parameter page record into Params. 0 when the page read failed. Not part of the
// update.
unsigned char GetParam(FirmwareSession &session);

}  // namespace tornelvox
