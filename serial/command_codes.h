// The adapter's commands by name: each value is the command's code in the frame catalogue
// (serial/command_frames.cpp), which SendCOMM and WriteComm take.
#pragma once

namespace tornelvox {

enum Command : int {
    kCmdProbe = 1,                     // asks the chip to answer; only the chip answers 04 0E
    kCmdHandshake = 2,                 // the boot loader's handshake, answered AA 55
    kCmdHandshakeBurstBeforeWake = 3,  // the handshake sent 200 times, unanswered
    kCmdHandshakeBurstAfterWake = 4,   // the handshake sent 100 times after the wake-up frame
    kCmdWakeUp = 5,                    // wakes a boot loader that missed the handshake
    kCmdEnterBootLoader = 6,           // enters the boot loader at 115,200 baud
    kCmdEnterBootLoaderFast = 7,       // the same asking for 1,000,000 baud; may be refused
    kCmdReadFlashId = 8,               // the flash chip's identification
    kCmdResetFirst = 9,                // first frame of the chip's reset
    kCmdResetSecond = 10,              // second frame: the chip restarts
    kCmdWriteEnableFirst = 11,         // first step of enabling flash writing, sent twice
    kCmdWriteEnableSecond = 12,        // second step, between the two first steps
    kCmdEraseStep = 13,                // erases one region, chosen by flash_cnt
    kCmdWriteImagePage = 14,           // writes the image page fw_write_cnt
    kCmdWriteNamePage = 15,            // writes the name page from BT_ADD at 0xFD000
    kCmdWriteParameterPage = 16,       // writes the parameter page from Params at 0x7E000
    kCmdReadCheckValue = 17,           // the check value of the flash's first 0x7D000 bytes
    kCmdReadPage = 18,                 // reads the page at dwReadAdd
    kCmdReadParameterPage = 19,        // the same read, keeping the chunk the record lies in
    kCmdNoFrame = 20,                  // the catalogue's empty row: no frame, no reply
    kCmdQuit = 21,                     // text command "/q", unanswered
    kCmdQueryVersion = 22,             // text command "/v": the firmware version text
    kCmdReadSetting = 23,              // "XS" read of the setting bOptions
    kCmdWriteSetting = 24,             // "XS" write of bOptionsValue to the setting bOptions
};

// The catalogue's codes run from the first command to the last without a gap.
inline constexpr int kFirstCommand = kCmdProbe;
inline constexpr int kLastCommand = kCmdWriteSetting;

}  // namespace tornelvox
