// The frames the adapter understands, and how a received byte stream is cut into them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tornelvox::emulator {

// Catalogue codes the emulator identifies frames by.
inline constexpr int kCodeProbe = 1;
inline constexpr int kCodeHandshake = 2;        // answered handshake
inline constexpr int kCodeBurstBeforeWake = 3;  // handshake in a burst before the wake-up frame
inline constexpr int kCodeBurstAfterWake = 4;   // handshake in a burst after it
inline constexpr int kCodeWakeUp = 5;
inline constexpr int kCodeEnterBootLoader = 6;
inline constexpr int kCodeEnterBootLoaderFast = 7;
inline constexpr int kCodeFlashId = 8;
inline constexpr int kCodeResetFirst = 9;
inline constexpr int kCodeResetSecond = 10;
inline constexpr int kCodeWriteEnable1 = 11;
inline constexpr int kCodeWriteEnable2 = 12;
inline constexpr int kCodeErase = 13;
inline constexpr int kCodeWriteImagePage = 14;
inline constexpr int kCodeWriteNamePage = 15;
inline constexpr int kCodeWriteParameterPage = 16;
inline constexpr int kCodeVerify = 17;
inline constexpr int kCodeReadPage = 18;  // also the parameter page read: the same bytes
inline constexpr int kCodeQuit = 21;
inline constexpr int kCodeVersion = 22;
inline constexpr int kCodeReadSetting = 23;
inline constexpr int kCodeWriteSetting = 24;

inline constexpr std::size_t kPageFrameHead = 12;  // head of a page write before its 4096 bytes
inline constexpr std::size_t kLongestFrame = kPageFrameHead + 4096;

enum class MatchResult {
    kComplete,  // a whole frame starts at the first byte
    kPartial,   // the bytes so far begin a frame; wait for more
    kNone,      // the first byte begins no frame
};

struct FrameMatch {
    MatchResult result = MatchResult::kNone;
    int code = 0;            // for kComplete; a handshake is reported as kCodeHandshake
    std::size_t length = 0;  // for kComplete
};

// Looks for a frame at the start of data[0..size).
FrameMatch MatchFrame(const std::uint8_t *data, std::size_t size);

// Flash address carried by the erase, page write and page read frames (bytes 9..12 of an erase,
// 8..11 of the others, little-endian).
std::uint32_t FrameAddress(int code, const std::uint8_t *frame, std::size_t size);

}  // namespace tornelvox::emulator
