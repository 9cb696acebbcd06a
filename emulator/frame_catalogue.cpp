#include "emulator/frame_catalogue.h"

#include <vector>

namespace tornelvox::emulator {
namespace {

constexpr int kAny = -1;  // a byte the frame carries as data (address, id, option, value)

struct FrameShape {
    int code;
    std::vector<int> head;  // fixed bytes, or kAny
    std::size_t length;     // whole frame; the bytes after the head are data
};

// Specific shapes come before general ones with the same head: the name and parameter page
// writes are told from an image page write by their address.
const std::vector<FrameShape> &Shapes() {
    static const std::vector<FrameShape> shapes = {
        {kCodeProbe, {0x01, 0xE0, 0xFC, 0x01, 0x00}, 5},
        {kCodeHandshake, {0x01, 0xE0, 0xFC, 0x02, 0xAA, 0x55}, 6},
        {kCodeWakeUp, {0x01, 0xE0, 0xFC, 0x05, 0xFE, 0x95, 0x27, 0x95, 0x27}, 9},
        {kCodeEnterBootLoader, {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x00, 0xC2, 0x01, 0x00, 0x0F}, 10},
        {kCodeEnterBootLoaderFast,
         {0x01, 0xE0, 0xFC, 0x06, 0x0F, 0x40, 0x42, 0x0F, 0x00, 0x0F},
         10},
        {kCodeFlashId,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x0E, 0x9F, 0x00, 0x00, 0x00, 0x00},
         13},
        {kCodeResetFirst,
         {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0x5A, 0x00},
         13},
        {kCodeResetSecond,
         {0x01, 0xE0, 0xFC, 0x09, 0x01, 0x00, 0x80, 0xF4, 0x00, 0x01, 0x00, 0xA5, 0x00},
         13},
        {kCodeWriteEnable1, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x02, 0x00, 0x0C, 0x05}, 9},
        {kCodeWriteEnable2, {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x03, 0x00, 0x0D, 0x01, 0x00}, 10},
        {kCodeErase,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x06, 0x00, 0x0F, kAny, kAny, kAny, kAny, kAny},
         13},
        {kCodeWriteNamePage,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, 0x00, 0xD0, 0x0F, 0x00},
         kLongestFrame},
        {kCodeWriteParameterPage,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, 0x00, 0xE0, 0x07, 0x00},
         kLongestFrame},
        {kCodeWriteImagePage,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x10, 0x07, kAny, kAny, kAny, kAny},
         kLongestFrame},
        {kCodeVerify,
         {0x01, 0xE0, 0xFC, 0x09, 0x10, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xCF, 0x07, 0x00},
         13},
        {kCodeReadPage,
         {0x01, 0xE0, 0xFC, 0xFF, 0xF4, 0x05, 0x00, 0x09, kAny, kAny, kAny, kAny},
         12},
        {kCodeQuit, {0x2F, 0x71}, 2},
        {kCodeVersion, {0x2F, 0x76}, 2},
        {kCodeReadSetting, {0x58, 0x53, 0x03, kAny, 0x03, kAny, 0x00}, 7},
        {kCodeWriteSetting, {0x58, 0x53, 0x07, kAny, 0x83, kAny, kAny, 0x00, 0x00, 0x00}, 10},
    };
    return shapes;
}

bool HeadFits(const FrameShape &shape, const std::uint8_t *data, std::size_t size) {
    const std::size_t n = size < shape.head.size() ? size : shape.head.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (shape.head[i] != kAny && shape.head[i] != data[i]) return false;
    }
    return true;
}

}  // namespace

FrameMatch MatchFrame(const std::uint8_t *data, std::size_t size) {
    FrameMatch match;
    if (data == nullptr || size == 0) return match;
    bool partial = false;
    for (const FrameShape &shape : Shapes()) {
        if (!HeadFits(shape, data, size)) continue;
        if (size >= shape.length) {
            match.result = MatchResult::kComplete;
            match.code = shape.code;
            match.length = shape.length;
            return match;
        }
        partial = true;
    }
    if (partial) match.result = MatchResult::kPartial;
    return match;
}

std::uint32_t FrameAddress(int code, const std::uint8_t *frame, std::size_t size) {
    std::size_t at = 0;
    switch (code) {
        case kCodeErase:
            at = 9;  // after the erase instruction
            break;
        case kCodeWriteImagePage:
        case kCodeWriteNamePage:
        case kCodeWriteParameterPage:
        case kCodeReadPage:
            at = 8;
            break;
        default:
            return 0;
    }
    if (frame == nullptr || size < at + 4) return 0;
    return static_cast<std::uint32_t>(frame[at]) | static_cast<std::uint32_t>(frame[at + 1]) << 8 |
           static_cast<std::uint32_t>(frame[at + 2]) << 16 |
           static_cast<std::uint32_t>(frame[at + 3]) << 24;
}

}  // namespace tornelvox::emulator
